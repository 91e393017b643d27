// Renders the scalable application icon into the fixed-size PNGs that icon themes look up first.
//
//   kestrim_iconrender <icon.svg> <output folder> <name> <size>...
//
// writes <output folder>/<size>x<size>/apps/<name>.png for every size. Built and run during the build, so
// the PNGs always match the SVG they come from and none of them is kept in the repository.

#include <QDir>
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

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5)
        return fail(QStringLiteral("usage: kestrim_iconrender <icon.svg> <output folder> <name> <size>..."));

    const QString source = QString::fromLocal8Bit(argv[1]);
    const QDir output(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);

    QSvgRenderer renderer(source);
    // An empty or broken SVG would otherwise give fully transparent PNGs that install without complaint.
    if (!renderer.isValid() || renderer.defaultSize().isEmpty())
        return fail(QStringLiteral("%1 is not a usable SVG picture").arg(source));

    for (int i = 4; i < argc; ++i) {
        const std::optional<int> size = parseSize(argv[i]);
        if (!size)
            return fail(QStringLiteral("\"%1\" is not a size from %2 to %3 pixels")
                            .arg(QString::fromLocal8Bit(argv[i]))
                            .arg(SmallestSize)
                            .arg(LargestSize));

        const QString folder = QStringLiteral("%1x%1/apps").arg(*size);
        if (!output.mkpath(folder))
            return fail(QStringLiteral("cannot create %1").arg(output.filePath(folder)));
        const QString target = output.filePath(QStringLiteral("%1/%2.png").arg(folder, name));

        const QImage image = render(renderer, *size);
        if (!image.save(target, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(target));
    }
    return EXIT_SUCCESS;
}
