// LinuxDrive's reading of the helper: arbitrary standard output, then an end
// of the helper's choosing, through a real process and the real pipe. The
// target is built into a folder of its own, where a stand-in helper beside
// it (the launcher's second candidate) prints the image file it is handed
// and ends as the file's name says. So the whole road is the program's own:
// the launch, the reading of lines as they come and at the end, the exit
// status and standard error, the process's release.
//
// Input: byte 0 picks the end (exit 0, 1, 2, 3, 4 or 127, killed, crashed),
// byte 1 whether the stand-in prints a message on standard error, the rest
// is its standard output.
//
// Whatever the helper prints, once it has ended the image must have left
// WRITING and WRITE_VERIFYING, be FINISHED exactly when a "DONE" line came
// (the helper's confirmation of a verified write), and carry a message
// whenever it failed; a verification failure needs a "CHECK" line and
// status 1. The drive must be free for the next write.

#include "fuzzsupport.h"
#include "linuxdrive.h"
#include "releasevariant.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstddef>
#include <cstdint>

namespace {

constexpr qint64 ImageSize = 1000000;
constexpr quint64 DriveSize = 16008609792ULL;

// The ends, by the first byte of the input; a file name part that the stand-in reads.
const char *const Ends[] = { "0", "1", "2", "3", "4", "127", "kill", "segv" };

// Prints the image it is given, its second argument, and ends as the
// image's name says: image-<end>-<message or quiet>.
const char StandIn[] = "#!/bin/sh\n"
                       "cat \"$2\"\n"
                       "case \"$2\" in *-message) echo 'the stand-in failed' >&2 ;; esac\n"
                       "end=${2##*/image-}\n"
                       "end=${end%%-*}\n"
                       "case $end in\n"
                       "kill) kill -KILL $$ ;;\n"
                       "segv) kill -SEGV $$ ;;\n"
                       "*) exit $end ;;\n"
                       "esac\n";

QTemporaryDir &scratch()
{
    static QTemporaryDir folder;
    return folder;
}

bool writeFile(const QString &path, const QByteArray &data, bool executable)
{
    // Written beside and renamed: fuzzer jobs running side by side share the stand-in.
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return false;
    file.close();
    if (executable && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return false;
    return ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) == 0;
}

struct Lines
{
    bool done = false;
    bool check = false;
};

// What the stand-in's output says, as the helper's protocol reads: lines
// trimmed of white space at both ends, keywords exact.
Lines readLines(const QByteArray &output)
{
    Lines lines;
    for (const QByteArray &line : output.split('\n')) {
        const QByteArray token = line.trimmed();
        if (token == "DONE")
            lines.done = true;
        // A "CHECK" after "DONE" comes too late to start a verification.
        else if (token == "CHECK" && !lines.done)
            lines.check = true;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Notifications go nowhere, at once, instead of to a desktop.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/flashwright-fuzz");
    FuzzSupport::startApplication("fuzz_linuxdriveoutput");
    FuzzSupport::expect(scratch().isValid(), "a scratch folder");
    const QString appDir = QCoreApplication::applicationDirPath();
    FuzzSupport::expect(!QFileInfo::exists(appDir + QStringLiteral("/../helper/linux/helper")),
                        "no helper at the first candidate, which would beat the stand-in");
    FuzzSupport::expect(writeFile(appDir + QStringLiteral("/helper"), StandIn, true), "the stand-in helper");
    FuzzSupport::expect(LinuxDrive::helperPath() == appDir + QStringLiteral("/helper"), "the stand-in is the helper");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const char *end = Ends[data[0] % (sizeof Ends / sizeof *Ends)];
    const bool message = data[1] & 1;
    const QByteArray output(reinterpret_cast<const char *>(data) + 2, qsizetype(size) - 2);

    QDir(scratch().path()).removeRecursively();
    QDir().mkpath(scratch().path());
    const QString image
        = scratch().filePath(QStringLiteral("image-%1-%2").arg(QLatin1String(end), message ? "message" : "quiet"));
    FuzzSupport::expect(writeFile(image, output, false), "the stand-in's output");

    LinuxDrive drive(nullptr, QStringLiteral("/org/freedesktop/UDisks2/block_devices/fuzz"),
                     QStringLiteral("Fuzz Drive"), DriveSize, false);
    ReleaseVariant variant(nullptr, image, ImageSize);
    // An empty image is refused before any helper starts.
    if (output.isEmpty()) {
        FuzzSupport::expect(!drive.write(&variant) && variant.status() == ReleaseVariant::FAILED
                                && !variant.errorString().isEmpty() && !drive.isBusy(),
                            "an empty image is refused, with a reason");
        return 0;
    }
    FuzzSupport::expect(drive.write(&variant), "the write starts");

    QEventLoop loop;
    QObject::connect(&drive, &Drive::busyChanged, &loop, [&] {
        if (!drive.isBusy())
            loop.quit();
    });
    QTimer::singleShot(20000, &loop, [&] { FuzzSupport::expect(false, "the helper's end is noticed"); });
    if (drive.isBusy())
        loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const Lines lines = readLines(output);
    const auto status = variant.status();
    FuzzSupport::expect(status != ReleaseVariant::WRITING && status != ReleaseVariant::WRITE_VERIFYING,
                        "the image leaves writing and verifying when the helper ends");
    FuzzSupport::expect((status == ReleaseVariant::FINISHED) == lines.done,
                        "finished exactly when the helper confirmed with DONE");
    if (status != ReleaseVariant::FINISHED) {
        FuzzSupport::expect(status == ReleaseVariant::FAILED || status == ReleaseVariant::FAILED_VERIFICATION,
                            "a write that did not finish failed");
        FuzzSupport::expect(!variant.errorString().isEmpty(), "a failure says why");
    }
    if (status == ReleaseVariant::FAILED_VERIFICATION)
        FuzzSupport::expect(lines.check && qstrcmp(end, "1") == 0, "a verification failure is status 1 after CHECK");
    FuzzSupport::expect(!drive.isBusy(), "the drive is free again");
    return 0;
}
