#include "mainwindow/labellayout.h"
#include "mainwindow/overlay.h"

#include <QTest>

#include <cmath>

// The digit layout without widgets: lengths in twips at 15 twips a pixel, every set length whole pixels.
class TestLabelLayout : public QObject
{
    Q_OBJECT

private:
    static LabelLayoutInput input(float width, float height, float aspect)
    {
        LabelLayoutInput in;
        in.clientWidth = width;
        in.clientHeight = height;
        in.toolbarHeight = 390;
        in.statusBarHeight = 300;
        in.digitAspect = aspect;
        in.secondsScale = 0.4f;
        in.fontScale = 0.05f;
        in.twipsPerPixel = 15;
        return in;
    }
    static bool wholePixels(const LabelBox &box)
    {
        for (float v : {box.left, box.top, box.width, box.height}) {
            if (std::fmod(v, 15.0f) != 0.0f)
                return false;
        }
        return true;
    }

private slots:
    void workedExample_widthLimited()
    {
        // W 7453, H 4768: a = 1.4 * 4768 / 7453 = 0.8956 > 0.8, so the width limits the digits.
        const auto layout = layoutLabels(input(7485, 5490, 0.8f));
        QVERIFY(layout);
        QCOMPARE(layout->minutes, (LabelBox{0, 645, 5325, 4260}));
        QCOMPARE(layout->minutesPoints, 213.0f);
        QCOMPARE(layout->seconds, (LabelBox{5355, 645, 2130, 1710}));
        QCOMPARE(layout->secondsPoints, 85.5f);
        QCOMPARE(layout->info, (LabelBox{5355, 2385, 2130, 2520}));
    }

    void shapes_data()
    {
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::addColumn<bool>("widthLimited");
        QTest::newRow("created size") << 7485.0f << 5490.0f << false;
        QTest::newRow("wide and low") << 30000.0f << 4000.0f << false;
        QTest::newRow("full hd") << 28800.0f << 16200.0f << false;
        QTest::newRow("tall and narrow") << 6000.0f << 20000.0f << true;
        QTest::newRow("square") << 9000.0f << 9000.0f << true;
        QTest::newRow("projector 4:3") << 15360.0f << 11520.0f << true;
    }

    // Whatever the window's shape, the group fills the band along its limiting direction, is centred in
    // the other, keeps the seconds at 0.4 of the minutes and puts the information label under them.
    void shapes()
    {
        QFETCH(float, width);
        QFETCH(float, height);
        QFETCH(bool, widthLimited);
        const float aspect = 0.92f; // a typical bold sans serif
        const LabelLayoutInput in = input(width, height, aspect);
        const auto layout = layoutLabels(in);
        QVERIFY(layout);
        const LabelBox &m = layout->minutes, &s = layout->seconds, &i = layout->info;
        const float T = in.toolbarHeight, H = height - T - in.statusBarHeight - 32;
        const float pixel = 15;

        for (const LabelBox *box : {&m, &s, &i})
            QVERIFY(wholePixels(*box));
        if (widthLimited) {
            QCOMPARE(m.left, 0.0f);
            // minutes, gap and seconds span the client width from edge to edge
            QVERIFY(std::abs(s.left + s.width - width) <= 2 * pixel);
            const float above = m.top - T, below = T + H - (m.top + m.height);
            QVERIFY2(std::abs(above - below) <= 2 * pixel,
                     qPrintable(QStringLiteral("%1 vs %2").arg(above).arg(below)));
        } else {
            QCOMPARE(m.top, T + 0 * pixel);
            QVERIFY(std::abs(m.height - H) <= pixel);
            const float left = m.left, right = width - (s.left + s.width);
            QVERIFY2(std::abs(left - right) <= 2 * pixel, qPrintable(QStringLiteral("%1 vs %2").arg(left).arg(right)));
        }
        // Never outside the band.
        QVERIFY(m.left >= 0 && s.left + s.width <= width + pixel);
        QVERIFY(m.top >= T && m.top + m.height <= T + H + pixel);
        // Proportions: the digit aspect within a pixel, the seconds a 0.4 copy, top-aligned, 32 twips apart.
        QVERIFY(std::abs(m.height - m.width * aspect) <= pixel);
        QVERIFY(std::abs(s.width - 0.4f * m.width) <= pixel);
        QVERIFY(std::abs(s.height - 0.4f * m.height) <= pixel);
        QCOMPARE(s.top, m.top);
        QVERIFY(std::abs(s.left - (m.left + m.width + 32)) <= pixel);
        QCOMPARE(i.left, s.left);
        QCOMPARE(i.width, s.width);
        QVERIFY(std::abs(i.top - (s.top + s.height + 32)) <= pixel);
        QVERIFY(std::abs(i.top + i.height - (m.top + m.height)) <= pixel);
        QCOMPARE(layout->minutesPoints, m.height * in.fontScale);
        QCOMPARE(layout->secondsPoints, s.height * in.fontScale);

        // Time over: a "-" a third of the minutes' height wide goes before the digits. They keep their
        // proportions and stay in the band, and keep their size too wherever the band has the room.
        const float lead = m.height / 3;
        const LabelLayout over = withMinusLead(*layout, in, lead);
        const LabelBox &om = over.minutes, &os = over.seconds;
        const float scale = om.height / m.height;
        QVERIFY(std::abs(om.width - lead * scale - m.width * scale) <= 1);
        QVERIFY(om.left >= -1 && os.left + os.width <= width + pixel);
        QVERIFY(std::abs(os.left - (om.left + om.width + 32)) <= 1);
        QCOMPARE(over.minutesPoints, layout->minutesPoints * scale);
        QCOMPARE(scale == 1.0f, s.left + s.width - m.left + lead <= width);
        // A message takes a fifth of the band under the digits and covers none of them.
        const MessageSplit split = splitForMessage(in);
        const auto above = layoutLabels(split.digits);
        QVERIFY(above);
        QVERIFY(above->minutes.top + above->minutes.height <= split.message.top + pixel);
        QVERIFY(above->minutes.height >= m.height * (1 - MessageShare) - 2 * pixel);
        // The talk's line takes a tenth above them, and with a message as well they still touch neither.
        const TalkLineSplit talk = splitForTalkLine(split.digits);
        const auto below = layoutLabels(talk.digits);
        QVERIFY(below);
        QVERIFY(below->minutes.top >= talk.line.top + talk.line.height - pixel);
        QVERIFY(below->minutes.top + below->minutes.height <= split.message.top + pixel);
        QVERIFY(below->minutes.height >= above->minutes.height * (1 - TalkLineShare) - 2 * pixel);
        QCOMPARE(talk.line.top, in.toolbarHeight);
    }

    void tie_takesTheHeightBranch()
    {
        // Choose the aspect equal to a = 1.4 * H / W as the layout computes it.
        LabelLayoutInput in = input(9032, 6090, 1.0f);
        const float W = in.clientWidth - 32, H = in.clientHeight - in.toolbarHeight - in.statusBarHeight - 32;
        in.digitAspect = 1.4f * H / W;
        const auto layout = layoutLabels(in);
        QVERIFY(layout);
        QCOMPARE(layout->minutes.top, in.toolbarHeight);
        QCOMPARE(layout->minutes.height, std::round(H / 15) * 15);
        // One float step higher and the width limits.
        in.digitAspect = std::nextafter(in.digitAspect, 0.0f);
        const auto other = layoutLabels(in);
        QVERIFY(other);
        QCOMPARE(other->minutes.left, 0.0f);
    }

    void tooSmall_data()
    {
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::addColumn<float>("fontScale");
        QTest::newRow("zero size") << 0.0f << 0.0f << 0.05f;
        QTest::newRow("no width left") << 32.0f << 5490.0f << 0.05f;
        QTest::newRow("no height left") << 7485.0f << 722.0f << 0.05f;
        QTest::newRow("negative band") << 7485.0f << 300.0f << 0.05f;
        QTest::newRow("info label would vanish") << 7485.0f << 767.0f << 0.05f;
        QTest::newRow("tiny width") << 60.0f << 5490.0f << 0.05f;
        QTest::newRow("font not measured") << 7485.0f << 5490.0f << 0.0f;
    }

    void tooSmall()
    {
        QFETCH(float, width);
        QFETCH(float, height);
        QFETCH(float, fontScale);
        LabelLayoutInput in = input(width, height, 0.92f);
        in.fontScale = fontScale;
        QVERIFY(!layoutLabels(in));
    }

    void italic_isTwentyPercentWider()
    {
        const DigitMeasure measure{1112, 2300};
        const DigitRatios upright = digitRatios(measure, false);
        const DigitRatios italic = digitRatios(measure, true);
        QCOMPARE(upright.fontScale, 100.0f / 2300);
        QCOMPARE(italic.fontScale, upright.fontScale);
        QVERIFY(std::abs(upright.digitAspect / italic.digitAspect - 1.2f) < 1e-5f);
        QVERIFY(std::abs(upright.digitAspect - 2300 / (1112 * 1.1f)) < 1e-5f);

        // Same height, 20 % wider labels.
        const auto a = layoutLabels(input(30000, 4000, upright.digitAspect));
        const auto b = layoutLabels(input(30000, 4000, italic.digitAspect));
        QVERIFY(a && b);
        QCOMPARE(a->minutes.height, b->minutes.height);
        QVERIFY(std::abs(b->minutes.width / a->minutes.width - 1.2f) < 0.01f);
    }

    void unmeasurableFont_givesNoRatios()
    {
        QCOMPARE(digitRatios({0, 2300}, false).fontScale, 0.0f);
        QCOMPARE(digitRatios({1112, 0}, false).fontScale, 0.0f);
    }

    // The read-out over full-screen slides: in the corner of the screen nearest the main window's middle,
    // on a second monitor as on the first.
    void overlayCorner_data()
    {
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("corner");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("top left") << QRect(1300, 10, 300, 200) << int(OverlayCorner::TopLeft) << QPoint(1034, 10);
        QTest::newRow("bottom right") << QRect(2000, 500, 300, 200) << int(OverlayCorner::BottomRight)
                                      << QPoint(2194, 750);
        QTest::newRow("bottom left") << QRect(1024, 700, 100, 100) << int(OverlayCorner::BottomLeft)
                                     << QPoint(1034, 750);
        QTest::newRow("full screen: the middle goes top right")
            << QRect(1024, 0, 1280, 800) << int(OverlayCorner::TopRight) << QPoint(2194, 10);
        QTest::newRow("on the screen to the left")
            << QRect(0, 0, 1024, 768) << int(OverlayCorner::TopLeft) << QPoint(1034, 10);
    }

    void overlayCorner()
    {
        QFETCH(QRect, place);
        QFETCH(int, corner);
        QFETCH(QPoint, topLeft);
        const QRect screen(1024, 0, 1280, 800);
        QCOMPARE(int(nearestCorner(screen, place)), corner);
        const QRect overlay = overlayPlace(screen, QSize(100, 40), nearestCorner(screen, place), 10);
        QCOMPARE(overlay, QRect(topLeft, QSize(100, 40)));
        QVERIFY(screen.contains(overlay));
    }
};

QTEST_APPLESS_MAIN(TestLabelLayout)
#include "tst_labellayout.moc"
