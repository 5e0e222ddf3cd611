// Saves what an X11 window shows as a PNG: flashwright_windowgrab <window id> <file>.
// The screenshots script finds the window and drives it with xdotool; this
// takes the picture through Qt, so no image tools are needed besides.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    bool ok = false;
    const WId window = arguments.size() == 3 ? arguments.at(1).toULongLong(&ok, 0) : 0;
    if (!ok) {
        std::fprintf(stderr, "usage: flashwright_windowgrab <window id> <file.png>\n");
        return 2;
    }
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(window);
    if (picture.isNull() || !picture.save(arguments.at(2), "PNG")) {
        std::fprintf(stderr, "flashwright_windowgrab: cannot save window %s to %s\n", qPrintable(arguments.at(1)),
                     qPrintable(arguments.at(2)));
        return 1;
    }
    return 0;
}
