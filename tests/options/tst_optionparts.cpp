#include "options/numbertext.h"
#include "options/optionsdialog.h"
#include "options/spinbar.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <cmath>
#include <limits>

using std::optional;

// The pieces of the options dialog that stand on their own: number entry, the spin bar and the font list
// filter.
class TestOptionParts : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("localPoint");
        QTest::addColumn<bool>("holds");
        QTest::addColumn<double>("value");

        const QString dot = QStringLiteral(".");
        const QString comma = QStringLiteral(",");
        QTest::newRow("integer") << "75" << dot << true << 75.0;
        QTest::newRow("negative") << "-5" << dot << true << -5.0;
        QTest::newRow("plus sign") << "+3" << dot << true << 3.0;
        QTest::newRow("leading zero") << "03" << dot << true << 3.0;
        QTest::newRow("fraction") << "1.5" << dot << true << 1.5;
        QTest::newRow("fraction without integer part") << ".5" << dot << true << 0.5;
        QTest::newRow("trailing point") << "5." << dot << true << 5.0;
        QTest::newRow("blanks around") << "  12\t" << dot << true << 12.0;
        QTest::newRow("local comma") << "2,5" << comma << true << 2.5;
        QTest::newRow("point also with local comma") << "2.5" << comma << true << 2.5;
        QTest::newRow("comma without local comma") << "2,5" << dot << false << 0.0;
        QTest::newRow("empty") << "" << dot << false << 0.0;
        QTest::newRow("only blanks") << "   " << dot << false << 0.0;
        QTest::newRow("only sign") << "-" << dot << false << 0.0;
        QTest::newRow("only point") << "." << dot << false << 0.0;
        QTest::newRow("letters") << "12a" << dot << false << 0.0;
        QTest::newRow("exponent") << "1e99" << dot << false << 0.0;
        QTest::newRow("blank inside") << "1 2" << dot << false << 0.0;
        QTest::newRow("two signs") << "--1" << dot << false << 0.0;
        QTest::newRow("two points") << "1.2.3" << dot << false << 0.0;
        QTest::newRow("hex") << "0x10" << dot << false << 0.0;
        QTest::newRow("infinity word") << "inf" << dot << false << 0.0;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661\u0662") << dot << false << 0.0;
        QTest::newRow("larger than a double") << QString(400, QLatin1Char('9')) << dot << false << 0.0;
        QTest::newRow("fraction below the smallest double")
            << QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1") << dot << true << 0.0;
        QTest::newRow("beyond 32 bits still a number") << "99999999999" << dot << true << 99999999999.0;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, localPoint);
        QFETCH(bool, holds);
        QFETCH(double, value);
        const optional<double> parsed = NumberText::parse(text, localPoint);
        QCOMPARE(parsed.has_value(), holds);
        if (holds) {
            QCOMPARE(*parsed, value);
        }
    }

    void toWhole32_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("whole");

        QTest::newRow("2.5 to even 2") << 2.5 << true << 2;
        QTest::newRow("3.5 to even 4") << 3.5 << true << 4;
        QTest::newRow("-2.5 to even -2") << -2.5 << true << -2;
        QTest::newRow("-3.5 to even -4") << -3.5 << true << -4;
        QTest::newRow("2.4999 down") << 2.4999 << true << 2;
        QTest::newRow("2.5001 up") << 2.5001 << true << 3;
        QTest::newRow("-0.4 to zero") << -0.4 << true << 0;
        QTest::newRow("largest") << 2147483647.0 << true << std::numeric_limits<std::int32_t>::max();
        QTest::newRow("rounds onto largest") << 2147483647.4 << true << std::numeric_limits<std::int32_t>::max();
        QTest::newRow("rounds past largest") << 2147483647.5 << false << 0;
        QTest::newRow("smallest") << -2147483648.0 << true << std::numeric_limits<std::int32_t>::min();
        QTest::newRow("below smallest") << -2147483649.0 << false << 0;
        QTest::newRow("huge") << 1e99 << false << 0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false << 0;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false << 0;
    }
    void toWhole32()
    {
        QFETCH(double, value);
        QFETCH(bool, fits);
        QFETCH(int, whole);
        const optional<std::int32_t> converted = NumberText::toWhole32(value);
        QCOMPARE(converted.has_value(), fits);
        if (fits) {
            QCOMPARE(*converted, whole);
        }
    }

    void toWhole16_rangeEnds()
    {
        QCOMPARE(NumberText::toWhole16(32767.4), optional<std::int16_t>(32767));
        QCOMPARE(NumberText::toWhole16(32767.5), optional<std::int16_t>());
        QCOMPARE(NumberText::toWhole16(-32768.0), optional<std::int16_t>(-32768));
        QCOMPARE(NumberText::toWhole16(-32768.6), optional<std::int16_t>());
        QCOMPARE(NumberText::toWhole16(59.5), optional<std::int16_t>(60));
    }

    void totalSeconds_data()
    {
        QTest::addColumn<double>("minutes");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("total");

        QTest::newRow("2 and 75") << 2.0 << 75.0 << true << 195;
        QTest::newRow("-5 and 0") << -5.0 << 0.0 << true << -300;
        QTest::newRow("fraction of a minute") << 1.5 << 0.0 << true << 90;
        QTest::newRow("half second tie to even") << 0.0 << 2.5 << true << 2;
        QTest::newRow("largest whole") << 35791394.0 << 7.0 << true << std::numeric_limits<std::int32_t>::max();
        QTest::newRow("one past largest") << 35791394.0 << 8.0 << false << 0;
        QTest::newRow("eleven nines of minutes") << 99999999999.0 << 0.0 << false << 0;
        QTest::newRow("overflowing double") << 1e308 << 1e308 << false << 0;
    }
    void totalSeconds()
    {
        QFETCH(double, minutes);
        QFETCH(double, seconds);
        QFETCH(bool, fits);
        QFETCH(int, total);
        const optional<std::int32_t> length = NumberText::totalSeconds(minutes, seconds);
        QCOMPARE(length.has_value(), fits);
        if (fits) {
            QCOMPARE(*length, total);
        }
    }

    void format_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("whole") << 6.0 << "6";
        QTest::newRow("fraction") << 2.5 << "2.5";
        QTest::newRow("negative") << -3.0 << "-3";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("large, no exponent") << 1e20 << "100000000000000000000";
        QTest::newRow("shortest round trip") << 0.1 + 0.2 << "0.30000000000000004";
    }
    void format()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(NumberText::format(value), text);
        // What the dialog writes after a carry must read back as the same number.
        QCOMPARE(NumberText::parse(text), optional<double>(value == 0.0 ? 0.0 : value));
    }

    void format_tinyValueReadsBack()
    {
        const double tiny = 1e-300;
        QCOMPARE(NumberText::parse(NumberText::format(tiny)), optional<double>(tiny));
    }

    void spinBar_upperArrowRaisesWhenTopAboveBottom()
    {
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(99);
        bar.setBottom(0);
        bar.setValue(5);
        QSignalSpy changed(&bar, &SpinBar::changed);

        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub); // upper arrow
        QCOMPARE(bar.value(), 6);
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); // lower arrow
        QCOMPARE(bar.value(), 5);
        bar.bar()->triggerAction(QAbstractSlider::SliderPageStepSub); // trough above the thumb
        QCOMPARE(bar.value(), 6);
        QCOMPARE(changed.count(), 3);
        QCOMPARE(changed.at(0).at(0).toInt(), 6);

        bar.setValue(99);
        changed.clear();
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar.value(), 99);
        bar.setValue(0);
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(bar.value(), 0);
        QCOMPARE(changed.count(), 1); // only the move to 0
    }

    void spinBar_arrowKeysMoveTowardTheirEnd()
    {
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(60);
        bar.setBottom(-1);
        bar.setValue(10);
        QTest::keyClick(bar.bar(), Qt::Key_Up);
        QCOMPARE(bar.value(), 11);
        QTest::keyClick(bar.bar(), Qt::Key_Down);
        QTest::keyClick(bar.bar(), Qt::Key_Down);
        QCOMPARE(bar.value(), 9);
        QTest::keyClick(bar.bar(), Qt::Key_PageUp);
        QCOMPARE(bar.value(), 10);
    }

    void spinBar_upperArrowLowersWhenTopBelowBottom()
    {
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(1);
        bar.setBottom(4);
        bar.setValue(2);
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar.value(), 1);
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar.value(), 1);
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(bar.value(), 2);
    }

    void spinBar_programChangeIsSynchronousAndOnlyOnRealChange()
    {
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(60);
        bar.setBottom(-1);
        QList<int> seen;
        // A handler that moves the bar again from inside its own change, as the seconds carry does.
        connect(&bar, &SpinBar::changed, &bar, [&](int value) {
            seen.append(value);
            if (value == 60) {
                bar.setValue(0);
            }
        });
        bar.setValue(0);
        QVERIFY(seen.isEmpty());
        bar.setValue(59);
        QCOMPARE(seen, QList<int>({59}));
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(seen, QList<int>({59, 60, 0}));
        QCOMPARE(bar.value(), 0);
        // The widget shows the value the handler left, not the one the arrow reached.
        QCOMPARE(bar.bar()->value(), 0);
    }

    void spinBar_rangeChangesClampTheValue_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("newTop");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("changes");

        QTest::newRow("inside the new range") << 2 << 3 << 2 << 0;
        QTest::newRow("above the new top") << 4 << 2 << 2 << 1;
        QTest::newRow("top below bottom") << 3 << 0 << 1 << 1;
    }
    void spinBar_rangeChangesClampTheValue()
    {
        QFETCH(int, value);
        QFETCH(int, newTop);
        QFETCH(int, expected);
        QFETCH(int, changes);
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(4);
        bar.setBottom(1);
        bar.setValue(value);
        QSignalSpy changed(&bar, &SpinBar::changed);
        bar.setTop(newTop);
        QCOMPARE(bar.value(), expected);
        QCOMPARE(changed.count(), changes);
        QVERIFY(bar.contains(expected));
        QVERIFY(!bar.contains(std::max(newTop, 1) + 0.5));
    }

    void spinBar_extremeBoundsStayDefined()
    {
        QWidget container;
        SpinBar bar(&container, QStringLiteral("bar"));
        bar.setTop(std::numeric_limits<int>::max());
        bar.setBottom(std::numeric_limits<int>::min());
        bar.setValue(std::numeric_limits<int>::min());
        QCOMPARE(bar.value(), -std::numeric_limits<int>::max());
        bar.bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar.value(), -std::numeric_limits<int>::max() + 1);
    }

    void listableFontNames_leavesOutVerticalFaces()
    {
        const QStringList families{QStringLiteral("Liberation Sans"), QStringLiteral("@MS Gothic"), QString(),
                                   QStringLiteral("Noto @ Sans"), QStringLiteral("@")};
        QCOMPARE(ListableFontNames(families),
                 QStringList({QStringLiteral("Liberation Sans"), QString(), QStringLiteral("Noto @ Sans")}));
    }
};

QTEST_MAIN(TestOptionParts)
#include "tst_optionparts.moc"
