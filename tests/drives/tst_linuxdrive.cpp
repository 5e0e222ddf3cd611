// The helper launcher: LinuxDrive against stand-in helper programs (scripts
// that print lines and standard error and end with chosen statuses), and one
// write with the real helper to an ordinary file that the fake UDisks2 hands
// out as the device. Everything runs on private buses: notifications go to
// dbusmock, UDisks2 is the fake.
#include "buildpaths.h"
#include "dbusmock.h"
#include "download.h"
#include "downloadmanager.h"
#include "drivemanager.h"
#include "fakeudisks2.h"
#include "faultserver.h"
#include "filecontents.h"
#include "installpaths.h"
#include "isoimage.h"
#include "linuxdrive.h"
#include "linuxdriveprovider.h"
#include "options.h"
#include "privatebus.h"
#include "progress.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "testlocale.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <signal.h>

using namespace UdisksObjects;

namespace {
const QString kDevice = FakeUDisks2::blockPath(QStringLiteral("sdb"));
constexpr qint64 kImageSize = 1000000;
constexpr quint64 kDriveSize = 16008609792ULL;
constexpr int kEndMs = 20000;

using Statuses = QList<ReleaseVariant::Status>;

bool writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    return !executable
        || file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                               | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
}

bool isAlive(qint64 pid)
{
    // A zombie counts as gone: it no longer runs.
    const QByteArray stat = FileContents::read(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.isEmpty() && !stat.contains(") Z ");
}

// Every status an image passes through, in order.
struct StatusRecorder
{
    explicit StatusRecorder(ReleaseVariant *variant)
    {
        QObject::connect(variant, &ReleaseVariant::statusChanged, variant,
                         [this, variant] { seen.append(variant->status()); });
    }
    Statuses seen;
};
} // namespace

class TestLinuxDrive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void helperCrash_data();
    void helperCrash();
    void cancelWhileWriting();
    void cancelWhileVerifying();
    void removedDuringWrite_data();
    void removedDuringWrite();
    void refusals_data();
    void refusals();
    void secondWriteRefused();
    void helperCandidates_data();
    void helperCandidates();
    void helperThatCannotRun();
    void restoreOutcomes_data();
    void restoreOutcomes();
    void writingADownloadInProgress();
    void unpluggedOnlyWhenUdisksSaysSo();
    void realHelperEndToEnd_data();
    void realHelperEndToEnd();
    void russianTexts();
    void brokenBackEndBlocksWriting();

private:
    [[nodiscard]] QString helperCandidate() const { return m_appDir + QStringLiteral("/helper"); }
    [[nodiscard]] QString firstCandidate() const { return m_appDir + QStringLiteral("/../helper/linux/helper"); }
    // A stand-in helper at the given place that records its arguments and
    // process id, then runs body.
    bool installStandIn(const QString &body, const QString &path = QString());
    [[nodiscard]] QStringList recordedArguments() const;
    [[nodiscard]] qint64 recordedPid() const;
    [[nodiscard]] QList<QStringList> notifications()
    {
        return m_notifications ? m_notifications->notifications() : QList<QStringList>();
    }
    LinuxDrive *newDrive(quint64 size = kDriveSize);
    std::unique_ptr<ReleaseVariant> newImage(qint64 size = kImageSize,
                                             const QString &name = QStringLiteral("disk.iso"));
    bool waitForEnd(LinuxDrive *drive);
    // A drive list of its own over UDisks2 discovery, which scans at once.
    void restartDiscovery();

    PrivateBus m_systemBus { PrivateBus::System };
    PrivateBus m_sessionBus { PrivateBus::Session };
    std::unique_ptr<DBusMock> m_notifications;
    QTemporaryDir m_home;
    QTemporaryDir m_scratch;
    QString m_appDir;
    std::unique_ptr<DriveManager> m_manager;
    std::unique_ptr<FakeUDisks2> m_fake;
};

void TestLinuxDrive::initTestCase()
{
    TestLocale::pinEnglish();
    QVERIFY(m_home.isValid() && m_scratch.isValid());
    // The downloads folder lies in the home; keep it out of the user's.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    QStandardPaths::setTestModeEnabled(true);
    m_appDir = QCoreApplication::applicationDirPath();
    for (const QString &installed :
         { QStringLiteral("/usr/libexec/flashwright/helper"), QStringLiteral(FLASHWRIGHT_LIBEXECDIR "/helper") }) {
        if (QFileInfo::exists(installed))
            QSKIP(qPrintable(
                QStringLiteral("an installed helper (%1) would stand in for the test's own").arg(installed)));
    }

    QString why;
    if (!FakeUDisks2::isAvailable(&why))
        QSKIP(qPrintable(why));
    if (!m_systemBus.start() || !m_sessionBus.start())
        QSKIP(qPrintable(QStringLiteral("no private bus: ") + m_systemBus.errorString() + m_sessionBus.errorString()));
    // The real helper runs here: it must never meet the machine's UDisks2.
    if (!PrivateBus::isSystemBusPrivate(&why))
        QFAIL(qPrintable(QStringLiteral("refusing to run: ") + why));

    if (DBusMock::unavailableReason().isEmpty()) {
        m_notifications = DBusMock::startNotificationDaemon(&why);
        QVERIFY2(m_notifications, qPrintable(why));
    }
}

void TestLinuxDrive::init()
{
    QDir().mkpath(QFileInfo(firstCandidate()).absolutePath());
    for (const QString &path : { helperCandidate(), firstCandidate() }) {
        QFile::remove(path);
        QDir(path).removeRecursively();
    }
    QFile::remove(m_scratch.filePath(QStringLiteral("arguments")));
    QFile::remove(m_scratch.filePath(QStringLiteral("pid")));
    if (m_notifications)
        m_notifications->control(QStringLiteral("ClearCalls"), {});
    restartDiscovery();
}

void TestLinuxDrive::restartDiscovery()
{
    m_manager.reset();
    m_manager = std::make_unique<DriveManager>([](DriveManager *m) { return new LinuxDriveProvider(m); });
}

void TestLinuxDrive::cleanup()
{
    m_manager.reset();
    m_fake.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool TestLinuxDrive::installStandIn(const QString &body, const QString &path)
{
    const QString script
        = QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\necho $$ > '%2'\n%3\n")
              .arg(m_scratch.filePath(QStringLiteral("arguments")), m_scratch.filePath(QStringLiteral("pid")), body);
    return writeFile(path.isEmpty() ? helperCandidate() : path, script.toUtf8(), true);
}

QStringList TestLinuxDrive::recordedArguments() const
{
    return QString::fromUtf8(FileContents::read(m_scratch.filePath(QStringLiteral("arguments"))))
        .trimmed()
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

qint64 TestLinuxDrive::recordedPid() const
{
    return FileContents::read(m_scratch.filePath(QStringLiteral("pid"))).trimmed().toLongLong();
}

LinuxDrive *TestLinuxDrive::newDrive(quint64 size)
{
    auto *provider = static_cast<LinuxDriveProvider *>(m_manager->provider());
    return new LinuxDrive(provider, kDevice, QStringLiteral("SanDisk Cruzer"), size, false);
}

std::unique_ptr<ReleaseVariant> TestLinuxDrive::newImage(qint64 size, const QString &name)
{
    const QString path = m_scratch.filePath(name);
    writeFile(path, QByteArray(16, 'x'));
    return std::make_unique<ReleaseVariant>(nullptr, path, size);
}

bool TestLinuxDrive::waitForEnd(LinuxDrive *drive)
{
    const bool ended = QTest::qWaitFor([drive] { return !drive->isBusy(); }, kEndMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ended;
}

void TestLinuxDrive::outcomes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<ReleaseVariant::Status>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<double>("progress");
    QTest::addColumn<Statuses>("statuses");
    const auto row = [](const char *tag, const char *script, ReleaseVariant::Status status, const char *error,
                        double progress, const Statuses &statuses) {
        QTest::newRow(tag) << QString::fromUtf8(script) << status << QString::fromUtf8(error) << progress << statuses;
    };

    using S = ReleaseVariant;
    const double done = double(kImageSize);
    row("written and verified", "echo 1234; echo 5678; echo CHECK; echo 4096; echo DONE; echo OK >&2", S::FINISHED, "",
        done, { S::WRITING, S::WRITE_VERIFYING, S::FINISHED });
    row("counts stay where the helper stopped", "echo 1234; echo 5678; printf 'Failed to write\\n' >&2; exit 3",
        S::FAILED, "Failed to write", 5678.0, { S::WRITING, S::FAILED });
    row("zero, letters and negative numbers change nothing",
        "echo 1234; echo 0; echo abc; echo -5; echo 'x' >&2; exit 3", S::FAILED, "x", 1234.0,
        { S::WRITING, S::FAILED });
    row("DONE with spaces around it", "echo CHECK; echo '  DONE  '", S::FINISHED, "", done,
        { S::WRITING, S::WRITE_VERIFYING, S::FINISHED });
    row("tokens cut by the pipe",
        "printf 12; sleep 0.3; printf '34\\nCHE'; sleep 0.3; printf 'CK\\nDO'; sleep 0.3; printf 'NE\\n'", S::FINISHED,
        "", done, { S::WRITING, S::WRITE_VERIFYING, S::FINISHED });
    row("verification found a mismatch",
        "echo 100; echo CHECK; echo 50; printf 'The written data is corrupted' >&2; exit 1", S::FAILED_VERIFICATION,
        "The written data is corrupted", 50.0, { S::WRITING, S::WRITE_VERIFYING, S::FAILED_VERIFICATION });
    row("other failure while verifying", "echo CHECK; echo 'Read error' >&2; exit 3", S::FAILED, "Read error", 0.0,
        { S::WRITING, S::WRITE_VERIFYING, S::FAILED });
    row("exit 0 without DONE", "echo 100; echo CHECK", S::FAILED,
        "The helper program ended without confirming that the image was written.", 0.0,
        { S::WRITING, S::WRITE_VERIFYING, S::FAILED });
    // "DONE" is the last word: later lines, in the same read or a later one,
    // and a failing status after it leave the verified image finished, and
    // the user is not told of a failure as well.
    row("lines after DONE", "echo CHECK; echo DONE; echo CHECK; sleep 0.3; echo WRITE; echo 99", S::FINISHED, "", done,
        { S::WRITING, S::WRITE_VERIFYING, S::FINISHED });
    row("failing status after DONE", "echo CHECK; echo DONE; sleep 0.3; echo 123; echo late >&2; exit 3", S::FINISHED,
        "", done, { S::WRITING, S::WRITE_VERIFYING, S::FINISHED });
    row("device refused", "printf 'Not authorized' >&2; exit 2", S::FAILED, "Not authorized", 0.0,
        { S::WRITING, S::FAILED });
    row("failure without a message", "exit 4", S::FAILED, "The helper program ended with status 4.", 0.0,
        { S::WRITING, S::FAILED });
}

void TestLinuxDrive::outcomes()
{
    QFETCH(QString, script);
    QFETCH(ReleaseVariant::Status, status);
    QFETCH(QString, error);
    QFETCH(double, progress);
    QFETCH(Statuses, statuses);

    QVERIFY(installStandIn(script));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    StatusRecorder recorder(image.get());

    QVERIFY(drive->write(image.get()));
    QVERIFY(drive->isBusy());
    QVERIFY(waitForEnd(drive));
    QCOMPARE(recordedArguments(), (QStringList { "write", image->iso(), kDevice }));
    QCOMPARE(image->status(), status);
    QCOMPARE(image->errorString(), error);
    QCOMPARE(recorder.seen, statuses);
    QCOMPARE(drive->progress()->value(), progress);
    if (progress > 0)
        QCOMPARE(drive->progress()->to(), double(kImageSize));
    QVERIFY(!drive->delayedWrite());

    if (!m_notifications)
        return;
    const QStringList expected = status == ReleaseVariant::FINISHED
        ? QStringList { "Finished!", QStringLiteral("Writing %1 was successful").arg(image->fullName()) }
        : QStringList { "Error", QStringLiteral("Writing %1 failed").arg(image->fullName()) };
    QCOMPARE(notifications(), QList<QStringList> { expected });
}

void TestLinuxDrive::helperCrash_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<ReleaseVariant::Status>("status");
    QTest::newRow("while writing") << "echo 4096; kill -SEGV $$" << ReleaseVariant::FAILED;
    QTest::newRow("while verifying") << "echo CHECK; kill -KILL $$" << ReleaseVariant::FAILED;
    // Verified is verified, however untidily the helper ends afterwards.
    QTest::newRow("after DONE") << "echo CHECK; echo DONE; kill -SEGV $$" << ReleaseVariant::FINISHED;
}

void TestLinuxDrive::helperCrash()
{
    QFETCH(QString, script);
    QFETCH(ReleaseVariant::Status, status);
    QVERIFY(installStandIn(script));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QVERIFY(waitForEnd(drive));
    QCOMPARE(image->status(), status);
    if (status == ReleaseVariant::FAILED)
        QVERIFY(!image->errorString().isEmpty());
    else
        QCOMPARE(image->errorString(), QString());
}

void TestLinuxDrive::cancelWhileWriting()
{
    QVERIFY(installStandIn(QStringLiteral("echo 4096; exec sleep 60")));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QTRY_COMPARE(drive->progress()->value(), 4096.0);
    const qint64 pid = recordedPid();
    QVERIFY(pid > 0 && isAlive(pid));
    QSignalSpy restoreStatus(drive, &Drive::restoreStatusChanged);
    QVERIFY(restoreStatus.isValid());

    drive->cancel();
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(), QStringLiteral("Stopped before writing has finished."));
    QVERIFY(!drive->isBusy());
    QTRY_VERIFY(!isAlive(pid));
    // Again: nothing left to stop, only the reset.
    drive->cancel();
    QCOMPARE(restoreStatus.size(), 2);
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QVERIFY(notifications().isEmpty());
}

void TestLinuxDrive::cancelWhileVerifying()
{
    QVERIFY(installStandIn(QStringLiteral("echo CHECK; exec sleep 60")));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QTRY_COMPARE(image->status(), ReleaseVariant::WRITE_VERIFYING);
    const qint64 pid = recordedPid();

    drive->cancel();
    // Not finished: nothing was checked, and the page deletes a download
    // only once its image is finished.
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(),
             QStringLiteral("Verification was cancelled: the drive holds the image, but it was not checked."));
    QTRY_VERIFY(!isAlive(pid));
}

void TestLinuxDrive::removedDuringWrite_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<ReleaseVariant::Status>("statusBefore");
    QTest::newRow("writing") << "echo 4096; exec sleep 60" << ReleaseVariant::WRITING;
    QTest::newRow("verifying") << "echo CHECK; exec sleep 60" << ReleaseVariant::WRITE_VERIFYING;
}

void TestLinuxDrive::removedDuringWrite()
{
    QFETCH(QString, script);
    QFETCH(ReleaseVariant::Status, statusBefore);
    QVERIFY(installStandIn(script));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QTRY_COMPARE(image->status(), statusBefore);
    const qint64 pid = recordedPid();

    delete drive;
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(), QStringLiteral("The drive was removed while it was written to."));
    QTRY_VERIFY(!isAlive(pid));
}

// The file column: "plain N" (N bytes), "xz N" (N zero bytes compressed by
// xz), "cut ISO" (an ISO image without the second half of its volume). An
// image size of -1 is the file's own.
void TestLinuxDrive::refusals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<qint64>("imageSize");
    QTest::addColumn<qint64>("realSize");
    QTest::addColumn<quint64>("driveSize");
    QTest::addColumn<QString>("error");
    const auto row = [](const char *tag, const char *file, const char *fileName, qint64 imageSize, qint64 realSize,
                        quint64 driveSize, const QString &error) {
        QTest::newRow(tag) << QString::fromLatin1(file) << QString::fromLatin1(fileName) << imageSize << realSize
                           << driveSize << error;
    };

    const QString tooSmall = QStringLiteral("This drive is not large enough.");
    const QString empty = QStringLiteral("The image file is empty: there is nothing to write.");
    row("drive too small", "plain 16", "disk.iso", 20000, 0, 10000, tooSmall);
    row("real size beyond the drive, none announced", "plain 16", "disk.img", 0, 20000, 10000, tooSmall);
    row("no size announced, the file beyond the drive", "plain 20000", "disk.img", 0, 0, 10000, tooSmall);
    row("xz that unpacks beyond the drive", "xz 20000", "disk.img.xz", -1, 0, 10000, tooSmall);
    row("local file named like a download", "plain 16", "disk.iso.part", kImageSize, 0, kDriveSize,
        "The image file name ends in \".part\", which marks an unfinished download. Rename the file if it is "
        "complete, and choose it again.");
    row("empty file", "plain 0", "disk.img", -1, 0, kDriveSize, empty);
    row("xz that unpacks to nothing", "xz 0", "disk.img.xz", -1, 0, kDriveSize, empty);
    row("ISO cut short by an interrupted download", "cut ISO", "disk.iso", -1, 0, kDriveSize,
        "The image file is incomplete: it is shorter than the ISO volume it describes.");
}

void TestLinuxDrive::refusals()
{
    QFETCH(QString, file);
    QFETCH(QString, fileName);
    QFETCH(qint64, imageSize);
    QFETCH(qint64, realSize);
    QFETCH(quint64, driveSize);
    QFETCH(QString, error);
    QVERIFY(installStandIn(QStringLiteral("echo DONE")));
    LinuxDrive *drive = newDrive(driveSize);

    const QString path = m_scratch.filePath(fileName);
    const qsizetype bytes = file.section(QLatin1Char(' '), 1).toLongLong();
    if (file.startsWith(QLatin1String("plain"))) {
        QVERIFY(writeFile(path, QByteArray(bytes, 'x')));
    } else if (file.startsWith(QLatin1String("xz"))) {
        QVERIFY2(FileContents::writeXz(path, QByteArray(bytes, '\0')), "xz is needed");
    } else {
        if (!IsoImage::missingTools().isEmpty())
            QSKIP(qPrintable(QStringLiteral("missing tools: ") + IsoImage::missingTools()));
        QVERIFY(IsoImage::make(path, 256 * 1024));
        QVERIFY(IsoImage::truncate(path, IsoImage::volumeSize(path) / 2));
    }
    auto image = std::make_unique<ReleaseVariant>(nullptr, path, imageSize < 0 ? QFileInfo(path).size() : imageSize);
    if (realSize > 0)
        image->setRealSize(realSize);

    QVERIFY(!drive->write(image.get()));
    // Shown on the page, which hides errors of an image that is still ready.
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(), error);
    QVERIFY(!drive->isBusy());
    // A started stand-in records its arguments at once.
    QVERIFY2(!QTest::qWaitFor([this] { return !recordedArguments().isEmpty(); }, 300), "the helper was started");

    QVERIFY(!drive->write(nullptr));
}

void TestLinuxDrive::secondWriteRefused()
{
    QVERIFY(installStandIn(QStringLiteral("echo 4096; exec sleep 60")));
    LinuxDrive *drive = newDrive();
    auto first = newImage();
    auto second = newImage(kImageSize, QStringLiteral("other.iso"));
    QVERIFY(drive->write(first.get()));
    QTRY_COMPARE(drive->progress()->value(), 4096.0);

    QVERIFY(!drive->write(second.get()));
    QVERIFY(!drive->write(first.get()));
    QCOMPARE(second->status(), ReleaseVariant::READY);
    QCOMPARE(first->status(), ReleaseVariant::WRITING);
    drive->cancel();
    QCOMPARE(first->status(), ReleaseVariant::FAILED);
}

void TestLinuxDrive::helperCandidates_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("used");
    QTest::newRow("none") << ""
                          << "";
    QTest::newRow("not executable") << "plain"
                                    << "";
    QTest::newRow("a directory") << "directory"
                                 << "";
    QTest::newRow("beside the program") << "beside"
                                        << "beside";
    QTest::newRow("the build tree's own before the one beside") << "beside first"
                                                                << "first";
}

void TestLinuxDrive::helperCandidates()
{
    QFETCH(QString, setup);
    QFETCH(QString, used);
    const QStringList parts = setup.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.contains(QLatin1String("plain")))
        QVERIFY(writeFile(helperCandidate(), "#!/bin/sh\necho DONE\n"));
    if (parts.contains(QLatin1String("directory")))
        QVERIFY(QDir().mkpath(helperCandidate()));
    if (parts.contains(QLatin1String("beside")))
        QVERIFY(installStandIn(QStringLiteral("echo beside >&2; exit 9")));
    if (parts.contains(QLatin1String("first")))
        QVERIFY(installStandIn(QStringLiteral("echo first >&2; exit 9"), firstCandidate()));

    LinuxDrive *drive = newDrive();
    auto image = newImage();
    if (used.isEmpty()) {
        QVERIFY(LinuxDrive::helperPath().isEmpty());
        QVERIFY(!drive->write(image.get()));
        QCOMPARE(image->status(), ReleaseVariant::FAILED);
        QCOMPARE(image->errorString(), QStringLiteral("Could not find the helper binary. Check your installation."));
        QVERIFY(!drive->isBusy());

        QSignalSpy restoreStatus(drive, &Drive::restoreStatusChanged);
        QVERIFY(restoreStatus.isValid());
        drive->restore();
        QCOMPARE(drive->restoreStatus(), Drive::RESTORE_ERROR);
        QCOMPARE(restoreStatus.size(), 2);
        return;
    }
    QVERIFY(drive->write(image.get()));
    QVERIFY(waitForEnd(drive));
    QCOMPARE(image->errorString(), used);
}

// A helper that is there and executable but cannot be started.
void TestLinuxDrive::helperThatCannotRun()
{
    QVERIFY(writeFile(helperCandidate(), "#!/nonexistent/interpreter\n", true));
    LinuxDrive *drive = newDrive();
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QVERIFY(waitForEnd(drive));
    QCOMPARE(image->status(), ReleaseVariant::FAILED);
    QVERIFY(!image->errorString().isEmpty());

    drive->restore();
    QVERIFY(waitForEnd(drive));
    QCOMPARE(drive->restoreStatus(), Drive::RESTORE_ERROR);
}

void TestLinuxDrive::restoreOutcomes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<Drive::RestoreStatus>("result");
    QTest::newRow("restored") << "sleep 0.2" << Drive::RESTORED;
    QTest::newRow("failed") << "printf 'Failed to create partition table' >&2; exit 1" << Drive::RESTORE_ERROR;
    QTest::newRow("formatting failed") << "exit 3" << Drive::RESTORE_ERROR;
}

void TestLinuxDrive::restoreOutcomes()
{
    QFETCH(QString, script);
    QFETCH(Drive::RestoreStatus, result);
    QVERIFY(installStandIn(script));
    LinuxDrive *drive = newDrive();
    drive->setRestoreStatus(Drive::CONTAINS_LIVE);
    QList<Drive::RestoreStatus> seen;
    connect(drive, &Drive::restoreStatusChanged, drive, [&] { seen.append(drive->restoreStatus()); });

    drive->restore();
    QVERIFY(drive->isBusy());
    QVERIFY(waitForEnd(drive));
    QCOMPARE(recordedArguments(), (QStringList { "restore", kDevice }));
    QCOMPARE(seen, (QList<Drive::RestoreStatus> { Drive::RESTORING, result }));
    QVERIFY(notifications().isEmpty());
}

// An image still downloading is written in delayed mode: the helper gets the
// part file and the image keeps its download status until "WRITE".
void TestLinuxDrive::writingADownloadInProgress()
{
    FaultServer server;
    server.setMode(FaultServer::Stall);
    server.setBody(QByteArray(kImageSize, 'z'));
    server.setLimit(4096);
    QVERIFY(server.start());
    ReleaseVariant image(nullptr, server.url(QStringLiteral("/zelvan.iso")).toString(), QString(), kImageSize, nullptr,
                         ReleaseVariant::LIVE);
    image.download();
    QCOMPARE(image.status(), ReleaseVariant::DOWNLOADING);
    QVERIFY(image.temporaryPath().endsWith(QLatin1String(".part")));

    QVERIFY(installStandIn(QStringLiteral("sleep 0.5; echo WRITE; echo 1; exec sleep 60")));
    LinuxDrive *drive = newDrive();
    QVERIFY(drive->write(&image));
    QCOMPARE(image.status(), ReleaseVariant::DOWNLOADING);
    QTRY_COMPARE(recordedArguments(), (QStringList { "write", image.temporaryPath(), kDevice }));
    QTRY_COMPARE(image.status(), ReleaseVariant::WRITING);
    QCOMPARE(drive->progress()->value(), 1.0);

    drive->cancel();
    QCOMPARE(image.status(), ReleaseVariant::FAILED);
    DownloadManager::instance()->cancel();
}

// While a drive is written, a scan that no longer accepts it (its medium
// reads as gone for a moment) keeps it; UDisks2 dropping it ends the write.
void TestLinuxDrive::unpluggedOnlyWhenUdisksSaysSo()
{
    m_fake = std::make_unique<FakeUDisks2>();
    QVERIFY2(m_fake->start(Layout().stick(QStringLiteral("sdb"), DriveObject()).json()),
             qPrintable(m_fake->errorString()));
    restartDiscovery();
    QTRY_COMPARE(m_manager->length(), 1);
    auto *drive = qobject_cast<LinuxDrive *>(m_manager->selected());
    QVERIFY(drive);
    QVERIFY(installStandIn(QStringLiteral("echo 4096; exec sleep 60")));
    auto image = newImage();
    QVERIFY(drive->write(image.get()));
    QTRY_COMPARE(drive->progress()->value(), 4096.0);
    const qint64 pid = recordedPid();

    QSignalSpy scanned(m_manager->provider(), &DriveProvider::initializedChanged);
    QVERIFY(scanned.isValid());
    QVERIFY(m_fake->updateObject(FakeUDisks2::drivePath(QStringLiteral("drive_sdb")),
                                 { { QStringLiteral("MediaAvailable"), false } }));
    QVERIFY(scanned.wait(10000));
    QCOMPARE(m_manager->length(), 1);
    QCOMPARE(image->status(), ReleaseVariant::WRITING);
    QVERIFY(isAlive(pid));

    QVERIFY(m_fake->removeObject(kDevice));
    QTRY_COMPARE(m_manager->length(), 0);
    QTRY_COMPARE(image->status(), ReleaseVariant::FAILED);
    QCOMPARE(image->errorString(), QStringLiteral("The drive was removed while it was written to."));
    QTRY_VERIFY(!isAlive(pid));
}

void TestLinuxDrive::realHelperEndToEnd_data()
{
    QTest::addColumn<bool>("iso");
    QTest::newRow("raw image, no checksum") << false;
    QTest::newRow("ISO with an implanted checksum") << true;
}

void TestLinuxDrive::realHelperEndToEnd()
{
    QFETCH(bool, iso);
    const QString helper = BuildPaths::helper();
    if (!QFileInfo(helper).isExecutable())
        QFAIL("the helper has not been built");
    if (iso && !IsoImage::missingTools().isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing tools: ") + IsoImage::missingTools()));
    QVERIFY(QFile::link(helper, helperCandidate()));

    const QString imagePath = m_scratch.filePath(iso ? QStringLiteral("zelvan.iso") : QStringLiteral("zelvan.img"));
    if (iso) {
        QVERIFY(IsoImage::make(imagePath, 3 * 1024 * 1024 + 321));
        QVERIFY(IsoImage::implant(imagePath));
    } else {
        QByteArray data(5 * 1024 * 1024 + 123, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        QVERIFY(writeFile(imagePath, data));
    }
    const QByteArray imageData = FileContents::read(imagePath);
    const QString devicePath = m_scratch.filePath(QStringLiteral("device"));
    QVERIFY(writeFile(devicePath, QByteArray(8 * 1024 * 1024, '\xAA')));

    QJsonObject sdb = disk(QStringLiteral("drive_sdb"));
    sdb.insert(QStringLiteral("open"), QJsonObject { { QStringLiteral("file"), devicePath } });
    m_fake = std::make_unique<FakeUDisks2>();
    QVERIFY2(
        m_fake->start(Layout().add(QStringLiteral("drive_sdb"), DriveObject()).add(QStringLiteral("sdb"), sdb).json()),
        qPrintable(m_fake->errorString()));
    restartDiscovery();
    QTRY_COMPARE(m_manager->length(), 1);
    auto *drive = qobject_cast<LinuxDrive *>(m_manager->selected());
    QVERIFY(drive);

    ReleaseVariant image(nullptr, imagePath, imageData.size());
    StatusRecorder recorder(&image);
    QVERIFY(drive->write(&image));
    QVERIFY(waitForEnd(drive));
    QCOMPARE(image.errorString(), QString());
    QCOMPARE(image.status(), ReleaseVariant::FINISHED);
    QCOMPARE(recorder.seen,
             (Statuses { ReleaseVariant::WRITING, ReleaseVariant::WRITE_VERIFYING, ReleaseVariant::FINISHED }));
    QCOMPARE(drive->progress()->value(), double(imageData.size()));

    // Byte for byte; the last block is filled up with zeros to 512 bytes, and
    // what lay beyond is untouched.
    const QByteArray written = FileContents::read(devicePath);
    const qsizetype padded = (imageData.size() + 511) / 512 * 512;
    QVERIFY(written.startsWith(imageData));
    QCOMPARE(written.mid(imageData.size(), padded - imageData.size()), QByteArray(padded - imageData.size(), '\0'));
    QCOMPARE(written.mid(padded), QByteArray(8 * 1024 * 1024 - padded, '\xAA'));
    QCOMPARE(m_fake->callObjects(QStringLiteral("OpenDevice")), QStringList { kDevice });
    if (m_notifications)
        QCOMPARE(notifications().value(0).value(0), QStringLiteral("Finished!"));
}

// The messages a Russian user meets come from the embedded catalogue.
void TestLinuxDrive::russianTexts()
{
    const TestLocale::Russian russian;
    QVERIFY(russian.isInstalled());
    restartDiscovery();
    QSignalSpy broken(m_manager.get(), &DriveManager::isBackendBrokenChanged);
    QVERIFY(broken.isValid());
    QVERIFY(broken.wait(30000));
    QCOMPARE(m_manager->errorString(), QStringLiteral("Похоже, служба UDisks2 недоступна в вашей системе."));

    LinuxDrive *small = newDrive(10000);
    auto image = newImage(20000);
    QVERIFY(!small->write(image.get()));
    QCOMPARE(image->errorString(), QStringLiteral("Этот накопитель слишком мал."));
    LinuxDrive *drive = newDrive();
    QVERIFY(!drive->write(image.get()));
    QCOMPARE(image->errorString(), QStringLiteral("Не удалось найти вспомогательную программу. Проверьте установку."));
}

// The catalogue asks the drive list whether writing is possible at all, as
// the program wires them: a ready image reports WRITING_NOT_POSSIBLE while
// UDisks2 cannot be reached, and no write starts.
void TestLinuxDrive::brokenBackEndBlocksWriting()
{
    QTcpServer nobody;
    QVERIFY(nobody.listen(QHostAddress::LocalHost));
    options.releasesUrl = QStringLiteral("http://127.0.0.1:%1/feed.json").arg(nobody.serverPort());
    nobody.close();
    auto releases = std::make_unique<ReleaseManager>();
    const QString file = m_scratch.filePath(QStringLiteral("local.iso"));
    QVERIFY(writeFile(file, QByteArray(4096, 'i')));
    releases->selectLocalFile(QUrl::fromLocalFile(file).toString());
    ReleaseVariant *image = releases->localFile();
    QVERIFY(image);
    QCOMPARE(image->status(), ReleaseVariant::READY);

    restartDiscovery();
    releases->setDriveBackend(m_manager.get());
    connect(m_manager.get(), &DriveManager::isBackendBrokenChanged, releases.get(),
            &ReleaseManager::onDriveBackendChanged);
    QSignalSpy statusChanged(image, &ReleaseVariant::statusChanged);
    QVERIFY(statusChanged.isValid());
    QVERIFY(statusChanged.wait(30000));
    QVERIFY(m_manager->isBackendBroken());
    QCOMPARE(image->status(), ReleaseVariant::WRITING_NOT_POSSIBLE);

    QVERIFY(installStandIn(QStringLiteral("echo DONE")));
    LinuxDrive *drive = newDrive();
    QVERIFY(!drive->write(image));
    QCOMPARE(image->status(), ReleaseVariant::WRITING_NOT_POSSIBLE);
    QCOMPARE(image->errorString(), QString());
    // A started stand-in records its arguments at once.
    QVERIFY2(!QTest::qWaitFor([this] { return !recordedArguments().isEmpty(); }, 300), "the helper was started");

    // UDisks2 appears (back) on the bus, as after an upgrade restarted it:
    // its first good reply makes writing possible again.
    m_fake = std::make_unique<FakeUDisks2>();
    QVERIFY2(m_fake->start(Layout().json()), qPrintable(m_fake->errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(image->status(), ReleaseVariant::READY, 10000);
    QVERIFY(!m_manager->isBackendBroken());
    QCOMPARE(m_manager->errorString(), QString());

    // Its feed fetch reports to it: let that end before it goes.
    releases->setDriveBackend(nullptr);
    QVERIFY(QTest::qWaitFor(
        [] {
            DownloadManager *downloads = DownloadManager::instance();
            const QList<Download *> all = downloads->findChildren<Download *>(Qt::FindDirectChildrenOnly);
            return std::all_of(all.cbegin(), all.cend(),
                               [downloads](const Download *d) { return d == downloads->currentDownload(); });
        },
        30000));
}

QTEST_GUILESS_MAIN(TestLinuxDrive)
#include "tst_linuxdrive.moc"
