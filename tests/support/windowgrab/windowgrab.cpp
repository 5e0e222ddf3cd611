// The picture taker of the program sessions (tests/support/programsession.h),
// which find the windows and drive them with xdotool; this takes the pictures
// through Qt, so no image tools are needed besides. Started with --serve, it
// answers commands on stdin. It waits for a window to come to rest, so that a
// page that slides in or a focus frame that moves is taken (or the next key
// sent) once it has stopped rather than after a fixed pause, which is too
// long when the machine is idle and too short when it is busy. One command a
// line, one answer a line ("ok" or what went wrong):
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
        QStringList command = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        // The file, the last word of grab and rest, may hold spaces.
        const int file = command.value(0) == QLatin1String("grab") ? 2 : 3;
        if (command.size() > file + 1)
            command = command.mid(0, file) << line.section(QLatin1Char(' '), file, -1, QString::SectionSkipEmpty);
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
    if (QGuiApplication::arguments().mid(1) != QStringList { QStringLiteral("--serve") }) {
        std::fprintf(stderr, "usage: flashwright_windowgrab --serve\n");
        return 2;
    }
    return serve();
}
