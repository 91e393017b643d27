#include "platform/icons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <array>

namespace {

constexpr std::array<int, 7> iconSizes{16, 24, 32, 48, 64, 128, 256};

// A 16 px toolbar picture needs no more than 64 px even at four times scale; the large sizes would only
// add to start-up time.
constexpr int largestToolbarSize = 64;

// Renders every size up to `largest` once. Painting through QSvgRenderer ourselves rather than handing the
// file to QIcon keeps the result identical whether or not Qt's SVG icon-engine plugin is found at run time.
QIcon renderIcon(const QString &resourcePath, int largest)
{
    QSvgRenderer renderer(resourcePath);
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (const int size : iconSizes) {
        if (size > largest) {
            break;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QString toolbarIconPath(const QString &key)
{
    static const std::array<QLatin1String, 7> keys{
        QLatin1String("play"),  QLatin1String("stop"), QLatin1String("reset"), QLatin1String("tool"),
        QLatin1String("sound"), QLatin1String("help"), QLatin1String("exit")};
    for (const QLatin1String known : keys) {
        if (key == known) {
            return QStringLiteral(":/icons/") + key + QStringLiteral(".svg");
        }
    }
    return {};
}

QIcon toolbarIcon(const QString &key)
{
    const QString path = toolbarIconPath(key);
    return path.isEmpty() ? QIcon() : renderIcon(path, largestToolbarSize);
}

QIcon applicationIcon()
{
    return renderIcon(QStringLiteral(":/icons/kestrim.svg"), iconSizes.back());
}
