// Pictures of X11 windows for the screenshots script, which finds the windows
// and drives them with xdotool; this takes the pictures through Qt, so no
// image tools are needed besides.
//
//   flashwright_windowgrab <window id> <file.png>   saves what the window shows
//   flashwright_windowgrab --serve                  answers commands on stdin
//
// Served, it waits for a window to come to rest, so that a page that slides
// in or a focus frame that moves is taken (or the next key sent) once it has
// stopped rather than after a fixed pause, which is too long when the machine
// is idle and too short when it is busy. One command a line, one answer a line
// ("ok" or what went wrong):
//
//   hello                             "ready": the picture taker has started
//   mark <window>                     remembers what the window shows now
//   rest <window> <ms> [<file.png>]   waits until the window has shown the same
//                                     for <ms> (at most ten seconds: "moving"),
//                                     then remembers and saves the picture
//   change <window> <ms>              waits until the window shows something
//                                     else than the remembered picture (at most
//                                     two seconds: "unchanged"), then as rest;
//                                     after a key, so that a program slow to
//                                     take the key is not mistaken for one at
//                                     rest
//   grab <window> <file.png>          saves what the window shows now
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QThread>

#include <cstdio>

namespace {

constexpr int pollInterval = 20;
constexpr int restLimit = 10000;
constexpr int changeLimit = 2000;

QImage grab(WId window)
{
    return QGuiApplication::primaryScreen()->grabWindow(window).toImage().convertToFormat(QImage::Format_RGB32);
}

// True once the picture stayed the same for `quiet` milliseconds; `picture`
// is the last one taken either way.
bool waitForRest(WId window, int quiet, QImage &picture)
{
    QElapsedTimer total;
    total.start();
    QElapsedTimer unchanged;
    unchanged.start();
    picture = grab(window);
    while (unchanged.elapsed() < quiet) {
        if (total.elapsed() > restLimit)
            return false;
        QThread::msleep(pollInterval);
        QImage next = grab(window);
        if (next != picture) {
            picture = std::move(next);
            unchanged.restart();
        }
    }
    return true;
}

bool waitForChange(WId window, const QImage &before)
{
    QElapsedTimer waited;
    waited.start();
    while (grab(window) == before) {
        if (waited.elapsed() > changeLimit)
            return false;
        QThread::msleep(pollInterval);
    }
    return true;
}

bool save(const QImage &picture, const QString &file)
{
    return !picture.isNull() && picture.save(file, "PNG");
}

QString answer(const QStringList &command, QHash<WId, QImage> &marks)
{
    bool ok = false;
    const WId window = command.value(1).toULongLong(&ok, 0);
    if (!ok)
        return QStringLiteral("no window in \"%1\"").arg(command.join(QLatin1Char(' ')));
    const QString verb = command.first();
    if (verb == QLatin1String("mark") && command.size() == 2) {
        marks.insert(window, grab(window));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("grab") && command.size() == 3)
        return save(grab(window), command.at(2)) ? QStringLiteral("ok") : QStringLiteral("cannot save");
    const int quiet = command.value(2).toInt(&ok);
    if (!ok)
        return QStringLiteral("no time in \"%1\"").arg(command.join(QLatin1Char(' ')));
    QImage picture;
    if (verb == QLatin1String("change") && command.size() == 3) {
        if (!waitForChange(window, marks.value(window)))
            return QStringLiteral("unchanged");
    } else if (verb != QLatin1String("rest") || command.size() > 4) {
        return QStringLiteral("unknown command \"%1\"").arg(command.join(QLatin1Char(' ')));
    }
    const bool rested = waitForRest(window, quiet, picture);
    marks.insert(window, picture);
    if (command.size() == 4 && !save(picture, command.at(3)))
        return QStringLiteral("cannot save");
    return rested ? QStringLiteral("ok") : QStringLiteral("moving");
}

int serve()
{
    QTextStream in(stdin);
    QHash<WId, QImage> marks;
    QString line;
    while (in.readLineInto(&line)) {
        const QStringList command = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QString reply;
        if (command.isEmpty())
            reply = QStringLiteral("empty command");
        else if (command == QStringList { QStringLiteral("hello") })
            reply = QStringLiteral("ready");
        else
            reply = answer(command, marks);
        std::printf("%s\n", qPrintable(reply));
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("--serve"))
        return serve();
    bool ok = false;
    const WId window = arguments.size() == 3 ? arguments.at(1).toULongLong(&ok, 0) : 0;
    if (!ok) {
        std::fprintf(stderr, "usage: flashwright_windowgrab <window id> <file.png> | --serve\n");
        return 2;
    }
    if (!save(grab(window), arguments.at(2))) {
        std::fprintf(stderr, "flashwright_windowgrab: cannot save window %s to %s\n", qPrintable(arguments.at(1)),
                     qPrintable(arguments.at(2)));
        return 1;
    }
    return 0;
}
