// The whole program as a user meets it: the real flashwright in a window
// under Xvfb, driven by keyboard, with the real helper, the demo catalogue
// on nginx, one stick of the fake UDisks2 service whose device is a file,
// and stand-ins for the desktop's notifications and file chooser on a
// private session bus. Each case ends in a picture of the window, kept in
// <build>/e2e-screenshots for looking at.
#include "dbusmock.h"
#include "democatalogue.h"
#include "fakeudisks2.h"
#include "filecontents.h"
#include "isoimage.h"
#include "nginxserver.h"
#include "privatebus.h"
#include "programlog.h"
#include "programsession.h"

#include <QDBusArgument>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

constexpr qint64 MiB = 1 << 20;
constexpr qint64 stickSize = 64 * MiB;
const QString requestPrefix = QStringLiteral("/org/freedesktop/portal/desktop/request/e2e/");

// Children of the process that run the given program, from /proc.
int childrenNamed(qint64 parent, const QByteArray &name)
{
    int count = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces, the ")" ends it.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (line.mid(open + 1, close - open - 1) == name && rest.size() > 1 && rest.at(1).toLongLong() == parent)
            ++count;
    }
    return count;
}

QByteArray readFile(const QString &path, qint64 size = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return size < 0 ? file.readAll() : file.read(size);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void catalogueImageWrittenThenRestored();
    void localCompressedImage();
    void stickPulledWhileWriting();
    void changedIsoFailsVerification();

private:
    // A fake stick "sdb" of stickSize bytes as sold, one FAT partition (the
    // one restoring creates anew); its device is the file stick() or the
    // given "open" answer.
    bool startStick(const QJsonObject &open = {});
    [[nodiscard]] QString stick() const { return m_scratch.filePath(QStringLiteral("stick")); }
    bool startProgram();
    // The local file chosen on the drive page through the file-chooser
    // portal, the stick confirmed: the write has started.
    void writeLocalFile(const QString &path);
    void screenshot(const QString &name);
    [[nodiscard]] QStringList notifications() const;

    PrivateBus m_systemBus { PrivateBus::System };
    PrivateBus m_sessionBus { PrivateBus::Session };
    NginxServer m_nginx;
    FakeUDisks2 m_fake;
    std::unique_ptr<DBusMock> m_notifications;
    std::unique_ptr<DBusMock> m_portal;
    ProgramSession m_program;
    QTemporaryDir m_scratch;
    QString m_pictures;
};

void TestEndToEnd::initTestCase()
{
    QString why = ProgramSession::unavailableReason();
    if (why.isEmpty() && !FakeUDisks2::isAvailable(&why) && why.isEmpty())
        why = QStringLiteral("the fake UDisks2 service cannot run");
    if (why.isEmpty())
        why = DBusMock::unavailableReason();
    if (why.isEmpty() && !DemoCatalogue::missingTools().isEmpty())
        why = DemoCatalogue::missingTools() + QStringLiteral(" missing (scripts/install-deps.sh)");
    if (why.isEmpty() && !m_nginx.start())
        why = m_nginx.errorString();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(m_scratch.isValid());
    QVERIFY2(m_systemBus.start(), qPrintable(m_systemBus.errorString()));
    QVERIFY2(m_sessionBus.start(), qPrintable(m_sessionBus.errorString()));
    QVERIFY2(PrivateBus::isSystemBusPrivate(&why), qPrintable(QStringLiteral("refusing to run: ") + why));

    QVERIFY2(DemoCatalogue::make(DemoCatalogue::templatePath(), m_nginx.root(), m_nginx.url(QStringLiteral("/")), &why),
             qPrintable(why));

    m_notifications = DBusMock::startNotificationDaemon(&why);
    QVERIFY2(m_notifications, qPrintable(why));
    // The file chooser names its request object after the caller's token and
    // answers on it later, as the desktop's does; the test gives the answer.
    m_portal = std::make_unique<DBusMock>(QStringLiteral("org.freedesktop.portal.Desktop"),
                                          QStringLiteral("/org/freedesktop/portal/desktop"));
    QVERIFY2(m_portal->start({ QStringLiteral("org.freedesktop.portal.Desktop"),
                               QStringLiteral("/org/freedesktop/portal/desktop"),
                               QStringLiteral("org.freedesktop.portal.FileChooser") }),
             qPrintable(m_portal->errorString()));
    const QDBusMessage added
        = m_portal->control(QStringLiteral("AddMethod"),
                            { QString(), QStringLiteral("OpenFile"), QStringLiteral("ssa{sv}"), QStringLiteral("o"),
                              QStringLiteral("path = '%1' + args[2]['handle_token']\n"
                                             "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])\n"
                                             "ret = path\n")
                                  .arg(requestPrefix) });
    QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));

    m_pictures = QStringLiteral(FLASHWRIGHT_BUILD_DIR "/e2e-screenshots");
    QVERIFY(QDir().mkpath(m_pictures));
}

void TestEndToEnd::init()
{
    m_notifications->control(QStringLiteral("ClearCalls"), {});
    m_portal->control(QStringLiteral("ClearCalls"), {});
}

void TestEndToEnd::cleanup()
{
    if (QTest::currentTestFailed()) {
        // The whole log beside the pictures, the tail here.
        QFile saved(QStringLiteral("%1/%2.log").arg(m_pictures, QLatin1String(QTest::currentTestFunction())));
        if (saved.open(QIODevice::WriteOnly | QIODevice::Truncate))
            saved.write(m_program.log());
        qWarning().noquote() << "The program's log ends:\n" << m_program.logTail();
    }
    m_program.stop();
    m_fake.stop();
}

bool TestEndToEnd::startStick(const QJsonObject &open)
{
    QFile file(stick());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(stickSize))
        return false;
    file.close();
    using namespace UdisksObjects;
    QJsonObject sdb = kernelDevice(QStringLiteral("sdb"), disk(QStringLiteral("stick")));
    sdb.insert(QStringLiteral("open"), open.isEmpty() ? openFile(stick()) : open);
    sdb.insert(QStringLiteral("partitionTable"),
               QJsonObject { { QStringLiteral("partition"), FakeUDisks2::blockPath(QStringLiteral("sdb1")) } });
    DriveObject demo;
    demo.vendor = QStringLiteral("Demo");
    demo.model = QStringLiteral("Stick");
    demo.size = stickSize;
    Layout layout;
    layout.add(QStringLiteral("stick"), demo)
        .add(QStringLiteral("sdb"), sdb)
        .add(QStringLiteral("sdb1"),
             kernelDevice(QStringLiteral("sdb1"),
                          partition(QStringLiteral("stick"), QStringLiteral("sdb"), QStringLiteral("vfat"))));
    return m_fake.start(layout.json());
}

bool TestEndToEnd::startProgram()
{
    if (!m_program.start({ QStringLiteral("--releasesUrl"), m_nginx.url(QStringLiteral("/feed.json")).toString() }))
        return false;
    // The catalogue and the stick, both listed before the first key.
    return m_program.waitForLog(ProgramLog::catalogueReceived, 30000) >= 0
        && m_program.waitForLog(ProgramLog::newDrive(FakeUDisks2::drivePath(QStringLiteral("stick"))), 30000) >= 0;
}

void TestEndToEnd::writeLocalFile(const QString &path)
{
    // The first page's second button, then the drive page's "Select...".
    QVERIFY2(m_program.keys({ QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space") }),
             qPrintable(m_program.errorString()));
    QVERIFY2(m_program.keys({ QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space") }),
             qPrintable(m_program.errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_portal->calls(QStringLiteral("OpenFile")).size(), 1, 20000);
    const QString token = qdbus_cast<QVariantMap>(m_portal->calls(QStringLiteral("OpenFile")).constFirst().at(2))
                              .value(QStringLiteral("handle_token"))
                              .toString();
    // The program listens on the request object only once the call has been
    // answered, so the answer is given until the program has taken it.
    const QVariantMap results { { QStringLiteral("uris"), QStringList { QUrl::fromLocalFile(path).toString() } } };
    bool taken = false;
    for (int attempt = 0; attempt < 20 && !taken; ++attempt) {
        const QDBusMessage emitted
            = m_portal->control(QStringLiteral("EmitSignal"),
                                { QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                                  QStringLiteral("ua{sv}"), QVariantList { uint(0), results } },
                                requestPrefix + token);
        QVERIFY2(emitted.type() == QDBusMessage::ReplyMessage, qPrintable(emitted.errorMessage()));
        taken = m_program.waitForLog(ProgramLog::localFileSet, 1000) >= 0;
    }
    QVERIFY2(taken, "the program did not take the chosen file");
    // The drive list (the stick is selected), "Continue", and "Write" in the
    // confirmation.
    QVERIFY2(m_program.keys({ QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space") }),
             qPrintable(m_program.errorString()));
    QVERIFY2(m_program.dialogKeys({ QStringLiteral("Tab"), QStringLiteral("space") }),
             qPrintable(m_program.errorString()));
}

void TestEndToEnd::screenshot(const QString &name)
{
    QVERIFY2(m_program.grab(QStringLiteral("%1/%2.png").arg(m_pictures, name), ProgramSession::Settle::AtRest),
             qPrintable(m_program.errorString()));
}

QStringList TestEndToEnd::notifications() const
{
    QStringList shown;
    for (const QStringList &notification : m_notifications->notifications())
        shown.append(notification.join(QLatin1Char('|')));
    return shown;
}

// The catalogue's road: the edition, "Continue" (the download and its check),
// "Write", the verified write, the notification; then the stick restored from
// the first page.
void TestEndToEnd::catalogueImageWrittenThenRestored()
{
    QVERIFY2(startStick(), qPrintable(m_fake.errorString()));
    QVERIFY2(startProgram(), qPrintable(m_program.errorString() + QString::fromLocal8Bit(m_program.logTail())));

    // "Download" on the first page, the first edition card, then "Continue"
    // with the first image of the 8.0 line for this machine.
    QVERIFY2(m_program.keys({ QStringLiteral("Return"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                              QStringLiteral("Return"), QStringLiteral("Return") }),
             qPrintable(m_program.errorString()));
    qsizetype at = m_program.waitForStatus("READY", 60000);
    QVERIFY2(at >= 0, "the download did not become ready");
    QVERIFY(m_program.statuses().contains("DOWNLOAD_VERIFYING"));
    QVERIFY2(m_program.keys({ QStringLiteral("Return") }), qPrintable(m_program.errorString()));
    QVERIFY2(m_program.dialogKeys({ QStringLiteral("Tab"), QStringLiteral("space") }),
             qPrintable(m_program.errorString()));
    at = m_program.waitForStatus("FINISHED", 60000, at);
    QVERIFY2(at >= 0, "the write did not finish");
    // "Write" looks for the download again first and finds it complete.
    QCOMPARE(m_program.statuses(),
             (QList<QByteArray> { "DOWNLOADING", "DOWNLOAD_VERIFYING", "READY", "DOWNLOADING", "READY", "WRITING",
                                  "WRITE_VERIFYING", "FINISHED" }));
    screenshot(QStringLiteral("catalogue-finished"));

    // The image as served, in Downloads and on the stick.
    const QByteArray image = readFile(m_nginx.root() + QStringLiteral("/images/.implanted.iso"));
    QVERIFY(image.size() > MiB);
    const QStringList downloaded = QDir(m_program.downloads()).entryList(QDir::Files);
    QCOMPARE(downloaded.size(), 1);
    QVERIFY(downloaded.constFirst().endsWith(QLatin1String("-x86_64.iso")));
    QVERIFY(readFile(m_program.downloads() + QLatin1Char('/') + downloaded.constFirst()) == image);
    QVERIFY2(readFile(stick(), image.size()) == image, "the stick holds the image");
    QCOMPARE(QFileInfo(stick()).size(), stickSize);
    QCOMPARE(m_fake.callObjects(QStringLiteral("OpenDevice")),
             QStringList { FakeUDisks2::blockPath(QStringLiteral("sdb")) });
    const QStringList shown = notifications();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.constFirst().startsWith(QLatin1String("Finished!|Writing ")), qPrintable(shown.constFirst()));

    // "Finish" offers the stick for restoring on the first page, as its
    // third button; the restore page starts with Return.
    QVERIFY2(m_program.keys({ QStringLiteral("Return") }), qPrintable(m_program.errorString()));
    QVERIFY2(m_program.waitForLog(ProgramLog::restoreStatus("Demo Stick", "CONTAINS_LIVE"), 10000, at) >= 0,
             "the written stick was not offered for restoring");
    QVERIFY2(m_program.keys({ QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                              QStringLiteral("space"), QStringLiteral("Return") }),
             qPrintable(m_program.errorString()));
    const qsizetype restored = m_program.waitForLog(ProgramLog::restoreStatus("Demo Stick", "RESTORED"), 60000, at);
    QVERIFY2(restored >= 0, "the stick was not restored");
    QVERIFY(!m_program.log().mid(at).contains(ProgramLog::restoreStatus("Demo Stick", "RESTORE_ERROR")));
    screenshot(QStringLiteral("restore-finished"));
    // The start wiped (512 MiB, which the file grows to), a new table, one
    // exFAT partition over all of it.
    QCOMPARE(readFile(stick(), 4 * MiB), QByteArray(4 * MiB, '\0'));
    QStringList formats;
    for (const QJsonObject &call : m_fake.calls(QStringLiteral("Format")))
        formats << call.value(QStringLiteral("args")).toArray().first().toString();
    QCOMPARE(formats, (QStringList { QStringLiteral("gpt"), QStringLiteral("exfat") }));
    QCOMPARE(m_fake.calls(QStringLiteral("CreatePartition")).size(), 1);
}

void TestEndToEnd::localCompressedImage()
{
    // The demo's disk image, decompressed by xz for the comparison.
    const QString image = m_scratch.filePath(QStringLiteral("board.img.xz"));
    QFile::remove(image);
    QVERIFY(QFile::copy(m_nginx.root() + QStringLiteral("/images/.disk.img.xz"), image));
    const QByteArray raw = FileContents::readXz(image);
    QCOMPARE(raw.size(), 8 * MiB);

    QVERIFY2(startStick(), qPrintable(m_fake.errorString()));
    QVERIFY2(startProgram(), qPrintable(m_program.errorString()));
    writeLocalFile(image);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(m_program.waitForStatus("FINISHED", 60000) >= 0, "the write did not finish");
    QVERIFY(!m_program.statuses().contains("FAILED"));
    QVERIFY2(readFile(stick(), raw.size()) == raw, "the stick holds the decompressed image");
    QVERIFY(notifications().constFirst().startsWith(QLatin1String("Finished!|")));
    screenshot(QStringLiteral("local-xz-finished"));
}

// Pulled while the helper writes to a stick that takes a megabyte a second:
// a failure that says why, never "Finished".
void TestEndToEnd::stickPulledWhileWriting()
{
    const QString image = m_scratch.filePath(QStringLiteral("large.img"));
    QByteArray data(16 * MiB, Qt::Uninitialized);
    QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size());
    file.close();

    QVERIFY2(startStick({ { QStringLiteral("pipe"), true }, { QStringLiteral("rate"), MiB } }),
             qPrintable(m_fake.errorString()));
    QVERIFY2(startProgram(), qPrintable(m_program.errorString()));
    writeLocalFile(image);
    if (QTest::currentTestFailed())
        return;
    const qsizetype writing = m_program.waitForStatus("WRITING", 30000);
    QVERIFY2(writing >= 0, "the write did not start");
    QVERIFY(m_fake.waitForCall(QStringLiteral("OpenDevice")));
    QCOMPARE(childrenNamed(m_program.processId(), "helper"), 1);
    QVERIFY2(m_fake.removeObject(FakeUDisks2::blockPath(QStringLiteral("sdb"))), qPrintable(m_fake.errorString()));
    const qsizetype failed = m_program.waitForStatus("FAILED", 30000, writing);
    QVERIFY2(failed >= 0, "the pulled stick did not fail the write");
    QVERIFY(m_program.log().contains("The drive was removed while it was written to."));
    screenshot(QStringLiteral("pulled-failed"));
    // The helper is stopped, and nothing comes after: no late "Finished"
    // from a helper that lived on.
    QTRY_COMPARE_WITH_TIMEOUT(childrenNamed(m_program.processId(), "helper"), 0, 10000);
    QVERIFY(m_program.waitForStatus("FINISHED", 1000, failed) < 0);
    QVERIFY(!m_program.statuses().contains("FINISHED"));
    QVERIFY(!m_program.statuses().contains("WRITE_VERIFYING"));
    const QStringList shown = notifications();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.constFirst().startsWith(QLatin1String("Error|Writing ")), qPrintable(shown.constFirst()));
}

// An ISO changed after its checksum was implanted: written in full, then the
// check of what the stick holds fails, and the page says so with the
// helper's words.
void TestEndToEnd::changedIsoFailsVerification()
{
    const QString image = m_scratch.filePath(QStringLiteral("changed.iso"));
    QFile::remove(image);
    QVERIFY(IsoImage::make(image, 4 * MiB, 44));
    QVERIFY(IsoImage::implant(image));
    QVERIFY(IsoImage::flipByte(image, IsoImage::volumeSize(image) / 2));
    QCOMPARE(IsoImage::referenceVerdict(image), IsoImage::Fail);

    QVERIFY2(startStick(), qPrintable(m_fake.errorString()));
    QVERIFY2(startProgram(), qPrintable(m_program.errorString()));
    writeLocalFile(image);
    if (QTest::currentTestFailed())
        return;
    const qsizetype failed = m_program.waitForStatus("FAILED_VERIFICATION", 60000);
    QVERIFY2(failed >= 0, "the changed image was not found out");
    QCOMPARE(m_program.statuses(), (QList<QByteArray> { "WRITING", "WRITE_VERIFYING", "FAILED_VERIFICATION" }));
    // The image went on the stick as it is; only its check failed.
    const QByteArray data = readFile(image);
    QVERIFY(readFile(stick(), data.size()) == data);
    const QByteArray log = m_program.log();
    const qsizetype error = log.indexOf(ProgramLog::errorOf);
    QVERIFY2(error >= 0, "no error message");
    qInfo().noquote() << "The message:" << log.mid(error, log.indexOf('\n', error) - error);
    screenshot(QStringLiteral("changed-iso-failed-verification"));
    QVERIFY(notifications().constFirst().startsWith(QLatin1String("Error|")));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
