// Start-up of flashwright, timed from the start of the process: to its first
// frame and to the catalogue being ready, against the first frame of an empty
// Qt Quick window started the same way. Both run offscreen with the software
// scene graph and report their frames through Qt's render-loop timing log.
//   startupbench <flashwright> <emptywindow> <feed url> [runs]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

struct Times
{
    double firstFrame = -1;
    double catalogue = -1;
};

// Runs the program until its log has shown everything asked for, then ends it.
std::optional<Times> run(const QString &program, const QStringList &arguments, bool waitForCatalogue,
                         const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.scenegraph.time.renderloop.debug=true"));
    environment.insert(QStringLiteral("QML_DISABLE_DISK_CACHE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    QProcess process;
    process.setProcessEnvironment(environment);
    // The log is on standard error; one channel, so that waiting wakes up for it.
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted())
        return std::nullopt;

    Times times;
    QByteArray log;
    while (times.firstFrame < 0 || (waitForCatalogue && times.catalogue < 0)) {
        if (clock.elapsed() > 30000 || process.state() != QProcess::Running) {
            std::fprintf(stderr, "%s did not get there:\n%s\n", qPrintable(program), log.constData());
            return std::nullopt;
        }
        process.waitForReadyRead(100);
        const QByteArray chunk = process.readAll();
        if (chunk.isEmpty())
            continue;
        const double now = double(clock.nsecsElapsed()) / 1e6;
        log += chunk;
        if (times.firstFrame < 0 && log.contains("Frame rendered"))
            times.firstFrame = now;
        if (times.catalogue < 0 && log.contains("Received a metadata json"))
            times.catalogue = now;
    }
    process.kill();
    process.waitForFinished();
    return times;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: startupbench <flashwright> <emptywindow> <feed url> [runs]\n");
        return 2;
    }
    const QString flashwright = arguments.at(1);
    const QString emptyWindow = arguments.at(2);
    const QStringList flashwrightArguments { QStringLiteral("--testing"), QStringLiteral("--verbose"),
                                             QStringLiteral("--releasesUrl"), arguments.at(3) };
    const int runs = arguments.size() > 4 ? arguments.at(4).toInt() : 10;

    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    // One unmeasured start of each, so that both find their files in the page cache.
    run(emptyWindow, {}, false, home.path());
    run(flashwright, flashwrightArguments, true, home.path());

    QList<double> baseline;
    QList<double> firstFrame;
    QList<double> catalogue;
    // Alternating, so that a change in the machine's load falls on both.
    for (int i = 0; i < runs; ++i) {
        const std::optional<Times> empty = run(emptyWindow, {}, false, home.path());
        const std::optional<Times> program = run(flashwright, flashwrightArguments, true, home.path());
        if (!empty || !program)
            return 1;
        baseline.append(empty->firstFrame);
        firstFrame.append(program->firstFrame);
        catalogue.append(program->catalogue);
    }

    const double base = median(baseline);
    const double frame = median(firstFrame);
    std::printf("start-up, offscreen, software scene graph, medians of %d runs\n", runs);
    std::printf("  empty Qt Quick window, first frame:   %7.1f ms\n", base);
    std::printf("  flashwright, first frame:             %7.1f ms  (%.2f of the empty window; target < 600 ms)\n",
                frame, frame / base);
    std::printf("  flashwright, catalogue ready:         %7.1f ms\n", median(catalogue));
    std::printf("  first frames, flashwright (ms):");
    for (double value : std::as_const(firstFrame))
        std::printf(" %.0f", value);
    std::printf("\n");
    return frame < 600 ? 0 : 3;
}
