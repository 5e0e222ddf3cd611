// The catalogue's road with a 1 GiB ISO (checksum implanted), through the
// real program under Xvfb: from pressing "Continue" (the download starts) to
// FINISHED, the image downloaded, checked, written to a fake UDisks2 stick
// whose device is a file on disk (opened with the helper's O_DIRECT and
// O_SYNC, as a real device is) and verified. Against the same steps by the
// usual tools, one after another, on the same files in the same run:
// curl, md5sum, dd oflag=direct, checkisomd5.
//
// The image is made once and kept in /var/tmp/flashwright-bench. Prints both
// times, their ratio (target: at most 1.0) and the load average.
#include "democatalogue.h"
#include "fakeudisks2.h"
#include "isoimage.h"
#include "nginxserver.h"
#include "privatebus.h"
#include "programlog.h"
#include "programrun.h"
#include "programsession.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr qint64 GiB = qint64(1) << 30;
const QString cacheDir = QStringLiteral("/var/tmp/flashwright-bench");

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QStringLiteral("?");
}

// Ends the run; the servers and the program end as the stack unwinds.
struct Failure
{
    QString message;
};

[[noreturn]] void fail(const QString &message)
{
    throw Failure { message };
}

// Runs a program to its end, its standard output in *output; false unless it exits 0.
bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    const ProgramResult result = ProgramRun(program, arguments).timeout(600000).run();
    if (output)
        *output = result.standardOutput;
    if (!result.succeeded())
        std::fprintf(stderr, "%s: %s", qPrintable(program), qPrintable(result.describe()));
    return result.succeeded();
}

QString cachedImage()
{
    const QString path = cacheDir + QStringLiteral("/e2e-1g.iso");
    if (QFileInfo(path).size() >= GiB - (16 << 20))
        return path;
    std::printf("making %s (once)\n", qPrintable(path));
    std::fflush(stdout);
    const QString part = path + QStringLiteral(".making");
    QFile::remove(part);
    if (!QDir().mkpath(cacheDir) || !IsoImage::make(part, GiB - (4 << 20), 1010) || !IsoImage::implant(part)
        || !QFile::rename(part, path))
        fail(QStringLiteral("cannot make the image"));
    return path;
}

bool makeStick(const QString &path, qint64 size)
{
    QFile::remove(path);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

double seconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int measure()
{
    QString why = ProgramSession::unavailableReason();
    if (why.isEmpty() && !FakeUDisks2::isAvailable(&why) && why.isEmpty())
        why = QStringLiteral("the fake UDisks2 service cannot run");
    if (why.isEmpty() && !IsoImage::missingTools().isEmpty())
        why = IsoImage::missingTools() + QStringLiteral(" missing");
    for (const char *tool : { "curl", "md5sum", "dd", "checkisomd5", "cmp" }) {
        if (why.isEmpty() && QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            why = QStringLiteral("%1 is missing").arg(QLatin1String(tool));
    }
    if (!why.isEmpty())
        fail(why);

    const QString image = cachedImage();
    const qint64 imageSize = QFileInfo(image).size();
    const QString loadBefore = loadAverage();

    PrivateBus systemBus(PrivateBus::System);
    PrivateBus sessionBus(PrivateBus::Session);
    NginxServer nginx;
    if (!systemBus.start() || !sessionBus.start() || !PrivateBus::isSystemBusPrivate(&why))
        fail(QStringLiteral("no private buses ") + why);
    if (!nginx.start())
        fail(nginx.errorString());
    if (!DemoCatalogue::make(DemoCatalogue::templatePath(), nginx.root(), nginx.url(QStringLiteral("/")), &why,
                             { { QStringLiteral("implanted.iso"), image } }))
        fail(why);
    const QString url = nginx.url(QStringLiteral("/images/zelvan-8.0-standart-2-x86_64.iso")).toString();

    // The stick on disk, not tmpfs: O_DIRECT needs a real file system.
    const QString stick = cacheDir + QStringLiteral("/e2e-stick");
    const qint64 stickSize = imageSize + (64 << 20);
    if (!makeStick(stick, stickSize))
        fail(QStringLiteral("cannot make ") + stick);
    FakeUDisks2 fake;
    QJsonObject sdb = UdisksObjects::disk(QStringLiteral("stick"));
    sdb.insert(QStringLiteral("open"), UdisksObjects::openFile(stick, true));
    UdisksObjects::DriveObject stickDrive;
    stickDrive.size = stickSize;
    UdisksObjects::Layout layout;
    layout.add(QStringLiteral("stick"), stickDrive).add(QStringLiteral("sdb"), sdb);
    if (!fake.start(layout.json()))
        fail(fake.errorString());

    // The source warm in the page cache for both roads.
    (void)ProgramRun(QStringLiteral("cat"), { image }).outputFile(QProcess::nullDevice()).timeout(600000).run();

    // The program: to the version page, then the timed part.
    ProgramSession program;
    if (!program.start({ QStringLiteral("--releasesUrl"), nginx.url(QStringLiteral("/feed.json")).toString() })
        || program.waitForLog(ProgramLog::catalogueReceived, 60000) < 0
        || program.waitForLog(ProgramLog::newDrive(FakeUDisks2::drivePath(QStringLiteral("stick"))), 60000) < 0)
        fail(QStringLiteral("the program did not come up: ") + program.errorString()
             + QString::fromLocal8Bit(program.logTail()));
    program.keys({ QStringLiteral("Return"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Return") });
    const qsizetype start = program.log().size();
    QElapsedTimer clock;
    clock.start();
    program.keys({ QStringLiteral("Return") });
    const qsizetype downloaded = program.waitForStatus("DOWNLOAD_VERIFYING", 600000, start);
    const double downloadedAt = seconds(clock);
    const qsizetype ready = downloaded < 0 ? -1 : program.waitForStatus("READY", 600000, downloaded);
    if (ready < 0)
        fail(QStringLiteral("no READY: ") + QString::fromLocal8Bit(program.logTail()));
    const double readyAt = seconds(clock);
    program.keys({ QStringLiteral("Return") });
    program.dialogKeys({ QStringLiteral("Tab"), QStringLiteral("space") });
    const double confirmedAt = seconds(clock);
    if (program.waitForStatus("FINISHED", 600000, ready) < 0)
        fail(QStringLiteral("no FINISHED: ") + QString::fromLocal8Bit(program.logTail()));
    const double programTotal = seconds(clock);
    // What the keys after READY took: the time a quick person would need.
    const double keysTime = confirmedAt - readyAt;
    const QString download = program.downloads() + QStringLiteral("/zelvan-8.0-standart-2-x86_64.iso");
    program.stop();
    if (!run(QStringLiteral("cmp"), { QStringLiteral("-n"), QString::number(imageSize), image, stick }))
        fail(QStringLiteral("the stick does not hold the image"));
    QFile::remove(download);

    // The tools, one after another, on the same server and the same stick file.
    if (!makeStick(stick, stickSize))
        fail(QStringLiteral("cannot make ") + stick);
    const QString copy = cacheDir + QStringLiteral("/e2e-curl.iso");
    QFile::remove(copy);
    QByteArray output;
    clock.restart();
    if (!run(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), copy, url }))
        fail(QStringLiteral("curl failed"));
    const double curlTime = seconds(clock);
    clock.restart();
    if (!run(QStringLiteral("md5sum"), { copy }, &output))
        fail(QStringLiteral("md5sum failed"));
    const double md5Time = seconds(clock);
    clock.restart();
    if (!run(QStringLiteral("dd"),
             { QStringLiteral("if=") + copy, QStringLiteral("of=") + stick, QStringLiteral("bs=4M"),
               QStringLiteral("oflag=direct"), QStringLiteral("conv=notrunc,fsync"), QStringLiteral("status=none") }))
        fail(QStringLiteral("dd failed"));
    const double ddTime = seconds(clock);
    clock.restart();
    if (!run(QStringLiteral("checkisomd5"), { stick }, &output))
        fail(QStringLiteral("checkisomd5 did not pass the stick"));
    const double checkTime = seconds(clock);
    QFile::remove(copy);
    QFile::remove(stick);
    const double baseline = curlTime + md5Time + ddTime + checkTime;

    std::printf("end-to-end catalogue road, %lld bytes (ISO with implanted checksum)\n", imageSize);
    std::printf("  program, Continue to FINISHED:   %.2f s  (of which %.2f s for the keys Write, Tab, Space)\n",
                programTotal, keysTime);
    std::printf(
        "    download (hashed as it comes) %.2f s, checks of the download %.2f s, write + verification %.2f s\n",
        downloadedAt, readyAt - downloadedAt, programTotal - confirmedAt);
    std::printf("  curl %.2f + md5sum %.2f + dd oflag=direct %.2f + checkisomd5 %.2f = %.2f s\n", curlTime, md5Time,
                ddTime, checkTime, baseline);
    std::printf("  ratio program / tools: %.2f   target <= 1.0   (without the keys: %.2f)\n", programTotal / baseline,
                (programTotal - keysTime) / baseline);
    std::printf("  load average before: %s   after: %s   processors: %d\n", qPrintable(loadBefore),
                qPrintable(loadAverage()), QThread::idealThreadCount());
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        return measure();
    } catch (const Failure &failure) {
        std::fprintf(stderr, "e2ebench: %s\n", qPrintable(failure.message));
        return 1;
    }
}
