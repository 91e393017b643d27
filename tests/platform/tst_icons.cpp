// The toolbar pictures and the window icon: every one must load from the resources and show something at
// toolbar size, in the colours the toolbar description gives it.

#include "platform/icons.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

struct PixelCounts
{
    int visible = 0;
    int dark = 0;      // nearly black
    int red = 0;       // strongly red
    int grey = 0;      // mid grey, neither dark nor light
    int light = 0;     // white or nearly
    int saturated = 0; // any clearly coloured pixel
};

PixelCounts countPixels(const QIcon &icon, int size)
{
    PixelCounts counts;
    const QImage image = icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() < 128) {
                continue;
            }
            ++counts.visible;
            const int value = c.value();
            if (c.hsvSaturation() > 120) {
                ++counts.saturated;
                if (c.red() > 150 && c.green() < 80 && c.blue() < 80) {
                    ++counts.red;
                }
            } else if (value < 60) {
                ++counts.dark;
            } else if (value > 220) {
                ++counts.light;
            } else {
                ++counts.grey;
            }
        }
    }
    return counts;
}

// Contrast ratio as the web's accessibility guidelines define it: 1 (none) to 21 (black on white).
double contrast(QColor a, QColor b)
{
    const auto lum = [](QColor c) {
        const auto ch = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
    };
    const double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkFusion(bool withDisabledColours)
{
    QPalette p(QColor(53, 53, 53), QColor(53, 53, 53));
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(role, Qt::white);
    if (withDisabledColours) {
        for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    } else {
        p.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::white);
    }
    return p;
}

// A theme whose disabled text stands out more than its enabled text.
QPalette lightDarkDisabled()
{
    QPalette p;
    p.setColor(QPalette::ButtonText, QColor(80, 80, 80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::black);
    return p;
}

// The picture as seen on the toolbar: composed over its background. Its edge is what makes the shape: the
// drawn pixels beside undrawn ones. Returns the edge pixels' contrasts with the background, lowest first.
QList<double> edgeContrasts(const QIcon &icon, QIcon::Mode mode, int size, QColor background)
{
    const QImage picture = icon.pixmap(QSize(size, size), mode).toImage().convertToFormat(QImage::Format_ARGB32);
    QImage seen(picture.size(), QImage::Format_ARGB32);
    seen.fill(background);
    QPainter(&seen).drawImage(0, 0, picture);
    const auto drawn = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < size && y < size && qAlpha(picture.pixel(x, y)) >= 128;
    };
    QList<double> contrasts;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (drawn(x, y) && !(drawn(x - 1, y) && drawn(x + 1, y) && drawn(x, y - 1) && drawn(x, y + 1)))
                contrasts.append(contrast(QColor::fromRgb(seen.pixel(x, y)), background));
        }
    }
    std::sort(contrasts.begin(), contrasts.end());
    return contrasts;
}

// How strongly the whole picture reads: the contrast above none of every pixel as seen, summed, so a solid
// shape weighs more than its outline and a pale one less than a dark one.
double weight(const QIcon &icon, QIcon::Mode mode, int size, QColor background)
{
    const QImage picture = icon.pixmap(QSize(size, size), mode).toImage().convertToFormat(QImage::Format_ARGB32);
    QImage seen(picture.size(), QImage::Format_ARGB32);
    seen.fill(background);
    QPainter(&seen).drawImage(0, 0, picture);
    double sum = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x)
            sum += contrast(QColor::fromRgb(seen.pixel(x, y)), background) - 1;
    }
    return sum;
}

} // namespace

class TestIcons final : public QObject
{
    Q_OBJECT

private slots:
    void toolbarIcon_drawsItsPicture_data();
    void toolbarIcon_drawsItsPicture();
    void toolbarIcon_unknownKeyIsNull();
    void toolbarIcon_standsOutOnLightAndDarkToolbars_data();
    void toolbarIcon_standsOutOnLightAndDarkToolbars();
    void applicationIcon_readableFromTitleBarToDock();
};

void TestIcons::toolbarIcon_drawsItsPicture_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("look");

    QTest::newRow("play") << QStringLiteral("play") << QStringLiteral("black");
    QTest::newRow("stop") << QStringLiteral("stop") << QStringLiteral("black");
    QTest::newRow("reset") << QStringLiteral("reset") << QStringLiteral("black");
    QTest::newRow("tool") << QStringLiteral("tool") << QStringLiteral("grey and white");
    QTest::newRow("sound") << QStringLiteral("sound") << QStringLiteral("grey");
    QTest::newRow("help") << QStringLiteral("help") << QStringLiteral("black");
    QTest::newRow("exit") << QStringLiteral("exit") << QStringLiteral("red");
}

void TestIcons::toolbarIcon_drawsItsPicture()
{
    QFETCH(QString, key);
    QFETCH(QString, look);

    const QIcon icon = toolbarIcon(key);
    QVERIFY(!icon.isNull());
    // Sharp on high-density screens too: every rendering up to four times toolbar size is there, not the
    // small one scaled up.
    QCOMPARE(icon.availableSizes(),
             QList<QSize>({QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48), QSize(64, 64)}));

    const PixelCounts counts = countPixels(icon, 16);
    // Something recognisable at 16 px, but a picture, not a filled square.
    QVERIFY2(counts.visible >= 20 && counts.visible <= 200, qPrintable(QString::number(counts.visible)));
    if (look == QLatin1String("black")) {
        QVERIFY(counts.dark * 10 >= counts.visible * 7);
        QCOMPARE(counts.saturated, 0);
    } else if (look == QLatin1String("red")) {
        QVERIFY(counts.red * 10 >= counts.visible * 7);
    } else {
        QCOMPARE(counts.saturated, 0);
        QVERIFY(counts.grey * 3 >= counts.visible);
        if (look == QLatin1String("grey and white")) {
            QVERIFY(counts.light > 0);
        }
    }
}

void TestIcons::toolbarIcon_unknownKeyIsNull()
{
    QVERIFY(toolbarIcon(QStringLiteral("Start")).isNull());
    QVERIFY(toolbarIcon(QString()).isNull());
    QVERIFY(toolbarIcon(QStringLiteral("../icons/play")).isNull());
}

void TestIcons::toolbarIcon_standsOutOnLightAndDarkToolbars_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QPalette>("palette");
    const QList<std::pair<const char *, QPalette>> palettes{
        {"light", QPalette()},
        {"dark Fusion", darkFusion(true)},
        {"dark, disabled as enabled", darkFusion(false)},
        {"light, disabled darker than enabled", lightDarkDisabled()}};
    for (const auto &[name, palette] : palettes) {
        for (const char *key : {"play", "stop", "reset", "tool", "sound", "help", "exit"})
            QTest::addRow("%s on %s", key, name) << QString::fromLatin1(key) << palette;
    }
}

void TestIcons::toolbarIcon_standsOutOnLightAndDarkToolbars()
{
    QFETCH(QString, key);
    QFETCH(QPalette, palette);
    const QIcon icon = toolbarIcon(key, palette);
    const QColor background = toolbarBackground(palette);
    for (const int size : {16, 32}) {
        // Most of the outline, enabled, at 3:1 or more.
        const QList<double> enabled = edgeContrasts(icon, QIcon::Normal, size, background);
        QVERIFY(enabled.size() >= size);
        const double median = enabled.at(enabled.size() / 2);
        QVERIFY2(median >= 3.0, qPrintable(QStringLiteral("%1 px: edge contrast %2").arg(size).arg(median)));
        // Disabled: still there, and weaker than enabled, at its edge and as a whole.
        const QImage on = icon.pixmap(QSize(size, size), QIcon::Normal).toImage();
        const QImage off = icon.pixmap(QSize(size, size), QIcon::Disabled).toImage();
        QVERIFY(on != off);
        const QList<double> disabled = edgeContrasts(icon, QIcon::Disabled, size, background);
        QVERIFY(disabled.size() >= size);
        QVERIFY2(disabled.at(disabled.size() / 2) >= 1.4,
                 qPrintable(QString::number(disabled.at(disabled.size() / 2))));
        QVERIFY2(
            median - disabled.at(disabled.size() / 2) >= 0.4,
            qPrintable(QStringLiteral("disabled %1, enabled %2").arg(disabled.at(disabled.size() / 2)).arg(median)));
        const double weightOn = weight(icon, QIcon::Normal, size, background);
        const double weightOff = weight(icon, QIcon::Disabled, size, background);
        QVERIFY2(weightOff < weightOn * 0.8,
                 qPrintable(QStringLiteral("disabled %1, enabled %2").arg(weightOff).arg(weightOn)));
    }
}

// The stopwatch: a dark case around a white face, at the 16 px of a title bar as at 256 px.
void TestIcons::applicationIcon_readableFromTitleBarToDock()
{
    const QIcon icon = applicationIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes().size(), 7);
    for (const int size : {16, 32, 256}) {
        QCOMPARE(icon.actualSize(QSize(size, size)), QSize(size, size));
        const PixelCounts counts = countPixels(icon, size);
        QVERIFY2(counts.dark > 0 && counts.light > 0, qPrintable(QString::number(size)));
        // Face and case both take a good share of the picture.
        QVERIFY(counts.light * 6 >= counts.visible);
        QVERIFY(counts.dark * 4 >= counts.visible);
    }
    const QImage big = icon.pixmap(QSize(256, 256)).toImage();
    // Centre of the face: the hub of the hands is dark; below and to the right, the white face.
    QVERIFY(QColor(big.pixel(128, 150)).value() < 60);
    QVERIFY(QColor(big.pixel(150, 200)).value() > 220);
}

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
