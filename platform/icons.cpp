#include "platform/icons.h"

#include <QImage>
#include <QPixmap>
#include <QResource>

#include <array>

namespace {

// The sizes rendered into the resources at build time (resources/CMakeLists.txt): a 16 px toolbar picture
// up to four times scale, and the window icon from title bar to task switcher. Every size is a real
// rendering, so nothing is scaled up blurred.
constexpr std::array<int, 5> toolbarSizes{16, 24, 32, 48, 64};
constexpr std::array<int, 7> windowIconSizes{16, 24, 32, 48, 64, 128, 256};

// The rendering is raw pixels, stored uncompressed: it is used in place, with no image decoder loaded.
QPixmap renderedPixmap(const QString &name, int size)
{
    const QResource resource(renderedIconPath(name, size));
    const qint64 bytes = qint64(size) * size * 4;
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression || resource.size() != bytes)
        return {};
    const QImage pixels(resource.data(), size, size, size * 4, QImage::Format_RGBA8888_Premultiplied);
    return QPixmap::fromImage(pixels);
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

QIcon toolbarIcon(const QString &key)
{
    const QString name = toolbarIconName(key);
    return name.isEmpty() ? QIcon() : iconFromRenderings(name, toolbarSizes);
}

QIcon applicationIcon()
{
    return iconFromRenderings(QStringLiteral("kestrim"), windowIconSizes);
}
