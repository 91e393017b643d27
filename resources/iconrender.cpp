// Renders an SVG picture at fixed sizes: the application icon as PNGs for icon themes, and the toolbar
// pictures and window icon as raw pixels built into the program.
//
//   kestrim_iconrender [--raw] <icon.svg> <output folder> <name> <size>...
//
// writes <output folder>/<size>x<size>/<name>.png for every size; <name> may hold a subfolder, as themes
// want ("apps/org.kestrim.Kestrim"). With --raw it writes <name>.rgba instead: size x size pixels of four
// bytes, red, green, blue and alpha, alpha premultiplied, row by row from the top. The program uses those as
// they are: no SVG renderer and no image decoder (whose plugin search alone costs milliseconds) is loaded
// at start-up. Built and run during the build, so the pictures always match the SVG they come from and
// none of them is kept in the repository.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr int SmallestSize = 8;
constexpr int LargestSize = 1024;

int fail(const QString &message)
{
    std::fprintf(stderr, "kestrim_iconrender: %s\n", qPrintable(message));
    return EXIT_FAILURE;
}

std::optional<int> parseSize(const char *text)
{
    bool ok = false;
    const int size = QString::fromLocal8Bit(text).toInt(&ok);
    if (!ok || size < SmallestSize || size > LargestSize)
        return std::nullopt;
    return size;
}

// A picture that is not square keeps its proportions and sits in the middle: themes scale PNGs as squares.
QImage render(QSvgRenderer &renderer, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image;
}

// Byte order fixed by the format, not by the machine, so a cross build's pictures come out right too.
bool writeRaw(const QImage &image, const QString &target)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const char *>(pixels.constScanLine(y));
        const qint64 bytes = qint64(pixels.width()) * 4;
        if (file.write(row, bytes) != bytes)
            return false;
    }
    return file.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    const bool raw = argc > 1 && qstrcmp(argv[1], "--raw") == 0;
    const int first = raw ? 2 : 1;
    if (argc < first + 4)
        return fail(QStringLiteral("usage: kestrim_iconrender [--raw] <icon.svg> <output folder> <name> <size>..."));

    const QString source = QString::fromLocal8Bit(argv[first]);
    const QDir output(QString::fromLocal8Bit(argv[first + 1]));
    const QString name = QString::fromLocal8Bit(argv[first + 2]);

    QSvgRenderer renderer(source);
    // An empty or broken SVG would otherwise give fully transparent PNGs that install without complaint.
    if (!renderer.isValid() || renderer.defaultSize().isEmpty())
        return fail(QStringLiteral("%1 is not a usable SVG picture").arg(source));

    for (int i = first + 3; i < argc; ++i) {
        const std::optional<int> size = parseSize(argv[i]);
        if (!size)
            return fail(QStringLiteral("\"%1\" is not a size from %2 to %3 pixels")
                            .arg(QString::fromLocal8Bit(argv[i]))
                            .arg(SmallestSize)
                            .arg(LargestSize));

        const QString target =
            output.filePath(QStringLiteral("%1x%1/%2.%3").arg(*size).arg(name, raw ? u"rgba" : u"png"));
        const QString folder = QFileInfo(target).path();
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("cannot create %1").arg(folder));

        const QImage image = render(renderer, *size);
        if (raw ? !writeRaw(image, target) : !image.save(target, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(target));
    }
    return EXIT_SUCCESS;
}
