// Build-time tool: renders an SVG master into a square PNG of the given size.
// Usage: flashwright_svgtopng <input.svg> <size> <output.png>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    // Painting into an image needs no display; the masters contain no text,
    // so no font database (and so no QGuiApplication) is needed either.
    QCoreApplication app(argc, argv);

    const QStringList arguments = QCoreApplication::arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments.at(2).toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fputs("usage: flashwright_svgtopng <input.svg> <size> <output.png>\n", stderr);
        return 2;
    }

    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "flashwright_svgtopng: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();

    if (!image.save(arguments.at(3), "PNG")) {
        std::fprintf(stderr, "flashwright_svgtopng: cannot write %s\n", qPrintable(arguments.at(3)));
        return 1;
    }
    return 0;
}
