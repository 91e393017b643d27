#include "platform/icons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QResource>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The sizes rendered into the resources at build time (resources/CMakeLists.txt): a 16 px toolbar picture
// up to four times scale, and the window icon from title bar to task switcher. Every size is a real
// rendering, so nothing is scaled up blurred.
constexpr std::array<int, 5> toolbarSizes{16, 24, 32, 48, 64};
constexpr std::array<int, 7> windowIconSizes{16, 24, 32, 48, 64, 128, 256};

// The rendering is raw pixels, stored uncompressed: it is used in place, with no image decoder loaded.
QImage renderedImage(const QString &name, int size)
{
    const QResource resource(renderedIconPath(name, size));
    const qint64 bytes = qint64(size) * size * 4;
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression || resource.size() != bytes)
        return {};
    return QImage(resource.data(), size, size, size * 4, QImage::Format_RGBA8888_Premultiplied);
}

QPixmap renderedPixmap(const QString &name, int size)
{
    const QImage image = renderedImage(name, size);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

// Contrast as the web's accessibility guidelines measure it, from 1 (the same) to 21 (black on white).
double luminance(const QColor &colour)
{
    const auto channel = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mixed(const QColor &a, const QColor &b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

constexpr double Legible = 3.0;
constexpr double Distinct = 1.8;
constexpr double Weaker = 1.5; // how many times the enabled ink's contrast exceeds the disabled one's at least

// The picture colours for a palette. A theme whose text barely differs from its toolbar, or whose disabled
// text is no different from the enabled or from the toolbar, still gets pictures one can see.
struct Inks
{
    QColor enabled;
    QColor disabled;
};

Inks inksFor(const QPalette &palette)
{
    const QColor background = toolbarBackground(palette);
    Inks inks{palette.color(QPalette::Active, QPalette::ButtonText),
              palette.color(QPalette::Disabled, QPalette::ButtonText)};
    if (contrast(inks.enabled, background) < Legible)
        inks.enabled =
            contrast(Qt::black, background) >= contrast(Qt::white, background) ? QColor(Qt::black) : QColor(Qt::white);
    // Disabled must read weaker than enabled, whatever the theme says: a disabled ink as strong as the
    // enabled one would make a greyed button look available.
    const double disabledContrast = contrast(inks.disabled, background);
    if (disabledContrast < Distinct || disabledContrast * Weaker > contrast(inks.enabled, background) ||
        contrast(inks.disabled, inks.enabled) < Distinct)
        inks.disabled = mixed(inks.enabled, background);
    return inks;
}

// The picture's shape filled with one colour; its edges stay as smooth as drawn.
QImage silhouette(const QImage &picture, const QColor &colour)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    return image;
}

// A coloured picture, disabled: its own shading in grey, taken halfway to the toolbar's colour, so it keeps
// its look (an outline stays an outline, a pale face stays pale) while every pixel stands out less than
// enabled. A solid silhouette would read heavier than a picture that is mostly pale.
QImage faded(const QImage &picture, const QColor &background)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const auto half = [](int a, int b) { return (a + b) / 2; };
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(half(grey, background.red()), half(grey, background.green()), half(grey, background.blue()),
                            qAlpha(line[x]));
        }
    }
    return image;
}

// Whether the picture's own outer edge stands out from the background: most of the pixels that border
// the transparent surroundings must reach the legible contrast.
bool edgeLegible(const QImage &picture, const QColor &background)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const auto opaque = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < image.width() && y < image.height() && qAlpha(image.pixel(x, y)) >= 128;
    };
    int edge = 0, legible = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!opaque(x, y) || (opaque(x - 1, y) && opaque(x + 1, y) && opaque(x, y - 1) && opaque(x, y + 1)))
                continue;
            ++edge;
            // As seen: a smoothed edge pixel is part background.
            const QRgb pixel = image.pixel(x, y);
            const double a = qAlpha(pixel) / 255.0;
            const auto over = [a](int ink, int back) { return int(std::lround(ink * a + back * (1 - a))); };
            const QColor seen(over(qRed(pixel), background.red()), over(qGreen(pixel), background.green()),
                              over(qBlue(pixel), background.blue()));
            if (contrast(seen, background) >= Legible)
                ++legible;
        }
    }
    return legible * 2 >= edge;
}

// The picture on a ring of `colour` about a sixteenth of its size wide, so its shape stands out.
QImage ringed(const QImage &picture, const QColor &colour)
{
    const int width = std::max(1, picture.width() / 16);
    const QImage ring = silhouette(picture, colour);
    QImage image(picture.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int dy = -width; dy <= width; ++dy) {
        for (int dx = -width; dx <= width; ++dx) {
            if (dx * dx + dy * dy <= width * width + width)
                painter.drawImage(dx, dy, ring);
        }
    }
    painter.drawImage(0, 0, picture);
    return image;
}

bool monochrome(const QString &name)
{
    return name == QLatin1String("play") || name == QLatin1String("stop") || name == QLatin1String("reset") ||
           name == QLatin1String("help");
}

template <std::size_t N>
QIcon iconFromRenderings(const QString &name, const std::array<int, N> &sizes)
{
    QIcon icon;
    for (const int size : sizes) {
        const QPixmap pixmap = renderedPixmap(name, size);
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QString renderedIconPath(const QString &name, int size)
{
    return QStringLiteral(":/icons/%1x%1/%2.rgba").arg(size).arg(name);
}

QString toolbarIconName(const QString &key)
{
    static const std::array<QLatin1String, 7> keys{
        QLatin1String("play"),  QLatin1String("stop"), QLatin1String("reset"), QLatin1String("tool"),
        QLatin1String("sound"), QLatin1String("help"), QLatin1String("exit")};
    for (const QLatin1String known : keys) {
        if (key == known)
            return key;
    }
    return {};
}

QColor toolbarBackground(const QPalette &palette)
{
    return palette.color(QPalette::Active, QPalette::Window);
}

QIcon toolbarIcon(const QString &key, const QPalette &palette)
{
    const QString name = toolbarIconName(key);
    if (name.isEmpty())
        return {};
    const Inks inks = inksFor(palette);
    const QColor background = toolbarBackground(palette);
    // Decided once, at toolbar size, so that every size of one picture looks the same.
    const bool ring = !monochrome(name) && !edgeLegible(renderedImage(name, toolbarSizes.front()), background);
    QIcon icon;
    for (const int size : toolbarSizes) {
        const QImage rendered = renderedImage(name, size);
        if (rendered.isNull())
            continue;
        const QImage enabled = monochrome(name) ? silhouette(rendered, inks.enabled)
                               : ring           ? ringed(rendered, inks.enabled)
                                                : rendered;
        icon.addPixmap(QPixmap::fromImage(enabled), QIcon::Normal);
        const QImage disabled = monochrome(name) ? silhouette(rendered, inks.disabled) : faded(enabled, background);
        icon.addPixmap(QPixmap::fromImage(disabled), QIcon::Disabled);
    }
    return icon;
}

QIcon applicationIcon()
{
    return iconFromRenderings(QStringLiteral("kestrim"), windowIconSizes);
}
