// Transfers against a misbehaving server, full and read-only disks, and URLs
// whose file names would leave the downloads folder.
#include "download.h"
#include "downloadmanager.h"
#include "faultserver.h"
#include "filecontents.h"
#include "progress.h"
#include "testfiles.h"
#include "testreceiver.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace TestFiles;

namespace {

// A tmpfs of its own, mounted for the test; needs root.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &options)
    {
        m_mounted = m_dir.isValid()
            && run({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), options,
                     QStringLiteral("tmpfs"), m_dir.path() });
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), { m_dir.path() });
    }
    [[nodiscard]] bool isMounted() const { return m_mounted; }
    [[nodiscard]] QString path() const { return m_dir.path(); }
    bool remountReadOnly() { return run({ QStringLiteral("-o"), QStringLiteral("remount,ro"), m_dir.path() }); }

private:
    static bool run(const QStringList &arguments)
    {
        QProcess mount;
        mount.setProcessChannelMode(QProcess::ForwardedChannels);
        mount.start(QStringLiteral("mount"), arguments);
        return mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace

class TestDownloadFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void stallTimesOut();
    void trickleDoesNotTimeOut();
    void cutMidBody_data();
    void cutMidBody();
    void rangeIgnored();
    void partFileJudged_data();
    void partFileJudged();
    void errorStatus_data();
    void errorStatus();
    void pageFailuresReported_data();
    void pageFailuresReported();
    void diskFull();
    void fileTooLarge();
    void partFileNotCreatable_data();
    void partFileNotCreatable();
    void unsafeFileName_data();
    void unsafeFileName();

private:
    QString start(TestReceiver &receiver, const QString &name, Progress *progress = nullptr);

    FaultServer m_server;
    QByteArray m_body;
    QTemporaryDir m_base;
    QString m_folder;
    int m_count = 0;
};

void TestDownloadFaults::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    QVERIFY(m_server.start());
    QVERIFY(m_base.isValid());
    m_body = randomBytes(1048576 + 333, 7);
    m_server.setBody(m_body);
}

void TestDownloadFaults::init()
{
    m_folder = m_base.filePath(QString::number(++m_count));
    DownloadManager::instance()->setInactivityTimeout(Download::InactivityTimeout);
}

void TestDownloadFaults::cleanup()
{
    DownloadManager::instance()->cancel();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString TestDownloadFaults::start(TestReceiver &receiver, const QString &name, Progress *progress)
{
    return DownloadManager::instance()->downloadFile(&receiver, m_server.url(name), m_folder, progress);
}

void TestDownloadFaults::stallTimesOut()
{
    DownloadManager::instance()->setInactivityTimeout(500);
    m_server.setMode(FaultServer::Stall);
    m_server.setLimit(100000);

    TestReceiver receiver;
    const QString part = start(receiver, QStringLiteral("stall.iso"));
    QVERIFY(receiver.errors.wait(10000));
    QCOMPARE(receiver.error(), QStringLiteral("Connection timed out"));
    QCOMPARE(FileContents::read(part), m_body.left(100000));
    // No address is left and the download stays current without a reply:
    // only a quiet while longer than the time-out shows it does not fire again.
    QVERIFY(!receiver.errors.wait(700));
}

void TestDownloadFaults::trickleDoesNotTimeOut()
{
    // Data every 200 ms keeps a 1500 ms inactivity timeout from firing, even
    // though the whole transfer takes twice as long.
    DownloadManager::instance()->setInactivityTimeout(1500);
    m_server.setMode(FaultServer::Trickle);
    const QByteArray body = m_body.left(15 * 4096);
    m_server.setBody(body);
    m_server.setTricklePiece(4096);

    TestReceiver receiver;
    start(receiver, QStringLiteral("trickle.iso"));
    QVERIFY(receiver.files.wait(20000));
    m_server.setBody(m_body);
    QCOMPARE(receiver.errors.count(), 0);
    QCOMPARE(receiver.hash(), md5(body));
}

void TestDownloadFaults::cutMidBody_data()
{
    QTest::addColumn<qint64>("sent");
    QTest::newRow("after half the body") << qint64(500000);
    QTest::newRow("before any byte") << qint64(0);
}

void TestDownloadFaults::cutMidBody()
{
    QFETCH(qint64, sent);
    m_server.setMode(FaultServer::Cut);
    m_server.setLimit(sent);

    TestReceiver receiver;
    const QString part = start(receiver, QStringLiteral("cut.iso"));
    // Qt reports the cut as an error, or sometimes as the end of the body,
    // which the download has to catch by the Content-Length.
    QVERIFY(receiver.errors.wait(10000));
    QVERIFY(!receiver.error().isEmpty());
    QCOMPARE(receiver.files.count(), 0);
    // The reply finishes right after the error; only then is an empty part file removed.
    QTRY_COMPARE(QFileInfo::exists(part), sent > 0);
    if (sent > 0) {
        QCOMPARE(QFileInfo(part).size(), sent);
        QCOMPARE(FileContents::read(part), m_body.left(sent));
    }
}

void TestDownloadFaults::rangeIgnored()
{
    // A server that answers a resumed request with the whole file: the part
    // file starts again instead of getting the whole file appended.
    m_server.setMode(FaultServer::IgnoreRange);
    QDir().mkpath(m_folder);
    const QString part = m_folder + QStringLiteral("/ignored.iso.part");
    QVERIFY(FileContents::write(part, m_body.left(300000)));

    TestReceiver receiver;
    Progress progress(nullptr, 0, 1);
    QCOMPARE(start(receiver, QStringLiteral("ignored.iso"), &progress), part);
    QVERIFY(receiver.files.wait(10000));
    const QList<int> requests = m_server.requestsFor("/ignored.iso");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(m_server.header(requests.at(0), "Range"), QByteArray("bytes=300000-"));
    QCOMPARE(receiver.hash(), md5(m_body));
    QCOMPARE(FileContents::read(part), m_body);
    QCOMPARE(progress.to(), double(m_body.size()));
    QCOMPARE(progress.value(), double(m_body.size()));
}

void TestDownloadFaults::partFileJudged_data()
{
    QTest::addColumn<FaultServer::Mode>("mode");
    QTest::addColumn<qint64>("rangeShift");
    QTest::addColumn<QByteArray>("part");
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<QByteArrayList>("ranges");

    const qint64 size = m_body.size();
    const QByteArray older = randomBytes(300000, 9);
    const QByteArray longer = randomBytes(size + 5000, 10);
    const QByteArray start = "bytes=0-";
    const QByteArray longerStart = "bytes=" + QByteArray::number(longer.size()) + '-';
    // Too large: stopped, and the part file deleted.
    QTest::newRow("keeps sending past the announced size")
        << FaultServer::Endless << qint64(0) << QByteArray() << size << false << QByteArrayList { start };
    QTest::newRow("keeps sending past the announced size, resumed")
        << FaultServer::Endless << qint64(0) << m_body.left(1000) << size << false << QByteArrayList { "bytes=1000-" };
    QTest::newRow("longer than announced")
        << FaultServer::IgnoreRange << qint64(0) << QByteArray() << size - 1 << false << QByteArrayList { start };
    // Not a continuation of the part file: it starts again from zero.
    QTest::newRow("206 with the wrong start") << FaultServer::Ranges << qint64(-1000) << m_body.left(300000) << size
                                              << true << QByteArrayList { "bytes=300000-", start };
    QTest::newRow("416 with a smaller total")
        << FaultServer::Ranges << qint64(0) << longer << qint64(0) << true << QByteArrayList { longerStart, start };
    QTest::newRow("part longer than the announced size")
        << FaultServer::Ranges << qint64(0) << longer << size << true << QByteArrayList { start };
    QTest::newRow("total differs from the announced size") << FaultServer::Ranges << qint64(0) << older << size + 4096
                                                           << true << QByteArrayList { "bytes=300000-", start };
    QTest::newRow("a piece of the announced file") << FaultServer::Ranges << qint64(0) << m_body.left(300000) << size
                                                   << true << QByteArrayList { "bytes=300000-" };
}

void TestDownloadFaults::partFileJudged()
{
    QFETCH(FaultServer::Mode, mode);
    QFETCH(qint64, rangeShift);
    QFETCH(QByteArray, part);
    QFETCH(qint64, announced);
    QFETCH(bool, completes);
    QFETCH(QByteArrayList, ranges);
    m_server.setMode(mode);
    m_server.setRangeShift(rangeShift);
    QDir().mkpath(m_folder);
    const QString name = QStringLiteral("judged%1.iso").arg(m_count);
    const QString partPath = m_folder + QLatin1Char('/') + name + QStringLiteral(".part");
    if (!part.isEmpty())
        QVERIFY(FileContents::write(partPath, part));

    TestReceiver receiver;
    Progress progress(nullptr, 0, 1);
    DownloadManager::instance()->downloadFile(&receiver, m_server.url(name), m_folder, &progress, announced);
    QPointer<Download> download = DownloadManager::instance()->currentDownload();
    QTRY_VERIFY_WITH_TIMEOUT(receiver.reports() > 0, 10000);
    m_server.setRangeShift(0);

    QByteArrayList asked;
    const QList<int> requests = m_server.requestsFor('/' + name.toLatin1());
    for (int request : requests)
        asked.append(m_server.header(request, "Range"));
    QCOMPARE(asked, ranges);
    QCOMPARE(receiver.files.count(), completes ? 1 : 0);
    QCOMPARE(receiver.errors.count(), completes ? 0 : 1);
    if (completes) {
        QCOMPARE(receiver.hash(), md5(m_body));
        QCOMPARE(FileContents::read(partPath), m_body);
        QCOMPARE(progress.value(), double(m_body.size()));
        return;
    }
    QCOMPARE(receiver.error(),
             QStringLiteral("The image on the server is larger than expected. The download was stopped and its "
                            "partial file deleted."));
    QVERIFY(!QFileInfo::exists(partPath));
    // Nothing goes on writing into the deleted file, nor makes it anew: the
    // download is gone.
    QTRY_VERIFY(!download);
    QCOMPARE(receiver.reports(), 1);
    QVERIFY(!QFileInfo::exists(partPath));
}

void TestDownloadFaults::errorStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("partContent"); // empty: no part file beforehand
    QTest::newRow("server error") << 503 << QStringLiteral("Service Unavailable") << QByteArray("partial");
    QTest::newRow("not found, new download") << 404 << QStringLiteral("Not Found") << QByteArray();
    QTest::newRow("not found, resumed download") << 404 << QStringLiteral("Not Found") << QByteArray("partial");
    // Qt ends a 3xx answer that is no redirect without an error.
    QTest::newRow("multiple choices") << 300 << QStringLiteral("Unable to fetch the requested image.")
                                      << QByteArray("partial");
}

void TestDownloadFaults::errorStatus()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QByteArray, partContent);
    m_server.setMode(FaultServer::Status);
    m_server.setStatus(status);
    QDir().mkpath(m_folder);
    const QString part = m_folder + QStringLiteral("/busy.iso.part");
    if (!partContent.isEmpty())
        QVERIFY(FileContents::write(part, partContent));

    TestReceiver receiver;
    start(receiver, QStringLiteral("busy.iso"));
    QVERIFY(receiver.errors.wait(10000));
    QVERIFY2(receiver.error().contains(message), qPrintable(receiver.error()));
    // The failed download stays current, with no reply and nothing to wait
    // for, until it is replaced: only a quiet while shows that nothing else comes.
    QVERIFY(!receiver.errors.wait(300));
    QVERIFY(DownloadManager::instance()->currentDownload());
    QCOMPARE(receiver.errors.count(), 1);
    QCOMPARE(receiver.files.count(), 0);
    // An empty part file goes; a resumable one stays as it was, without the error page.
    QCOMPARE(QFileInfo::exists(part), !partContent.isEmpty());
    if (!partContent.isEmpty())
        QCOMPARE(FileContents::read(part), partContent);
}

void TestDownloadFaults::pageFailuresReported_data()
{
    QTest::addColumn<FaultServer::Mode>("mode");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");

    QTest::newRow("stall") << FaultServer::Stall << QByteArray(4096, '[') << "Connection timed out";
    QTest::newRow("error status") << FaultServer::Status << QByteArray() << "server replied: Not Found";
    // Qt reports the cut as an error, or takes it for the end of the body.
    QTest::newRow("cut") << FaultServer::Cut << QByteArray(4096, '[') << "";
    QTest::newRow("keeps sending") << FaultServer::Endless << QByteArray(1048576, '[')
                                   << "The server's answer is larger than 64 MiB.";
    QTest::newRow("length over 64 MiB") << FaultServer::Stall << QByteArray(Download::PageLimit + 1, '[')
                                        << "The server's answer is larger than 64 MiB.";
}

void TestDownloadFaults::pageFailuresReported()
{
    QFETCH(FaultServer::Mode, mode);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    DownloadManager::instance()->setInactivityTimeout(300);
    m_server.setMode(mode);
    m_server.setStatus(404);
    m_server.setLimit(10);
    m_server.setBody(body);

    TestReceiver receiver;
    DownloadManager::instance()->fetchPageAsync(&receiver, m_server.url(QStringLiteral("feed")).toString());
    const bool reported = receiver.errors.wait(10000);
    m_server.setBody(m_body);
    QVERIFY(reported);
    const QString text = receiver.error();
    QVERIFY2(!text.isEmpty() && text.contains(message), qPrintable(text));
    // Once, and nothing else: the fetch is gone.
    QVERIFY(onlyCurrentTransferLeft());
    QCOMPARE(receiver.errors.count(), 1);
    QCOMPARE(receiver.pages.count(), 0);
}

void TestDownloadFaults::diskFull()
{
    TmpfsMount disk(QStringLiteral("size=2m"));
    if (!disk.isMounted())
        QSKIP("mounting a small tmpfs needs root");
    m_server.setMode(FaultServer::IgnoreRange);
    m_server.setBody(randomBytes(4 * 1048576, 8));
    m_folder = disk.path();

    TestReceiver receiver;
    QPointer<Download> download;
    start(receiver, QStringLiteral("large.iso"));
    download = DownloadManager::instance()->currentDownload();
    QVERIFY(receiver.errors.wait(10000));
    m_server.setBody(m_body);
    QCOMPARE(receiver.error(), QStringLiteral("You ran out of space in your Downloads folder."));
    // A write failure ends the download for good, and nothing is reported after it.
    QTRY_VERIFY(!download);
    QVERIFY(!DownloadManager::instance()->currentDownload());
    QCOMPARE(receiver.errors.count(), 1);
    QCOMPARE(receiver.files.count(), 0);
}

void TestDownloadFaults::fileTooLarge()
{
    // Writes past a file size limit fail while the disk has plenty of room.
    m_server.setMode(FaultServer::IgnoreRange);
    struct rlimit old
    {
    };
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 200000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

    TestReceiver receiver;
    const QString part = start(receiver, QStringLiteral("limited.iso"));
    const bool reported = receiver.errors.wait(10000);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(reported);
    QCOMPARE(receiver.error(), QStringLiteral("The download file is not writable."));
    QVERIFY(QFileInfo(part).size() <= 200000);
}

void TestDownloadFaults::partFileNotCreatable_data()
{
    QTest::addColumn<bool>("readOnlyMount");
    QTest::newRow("folder below a file") << false;
    QTest::newRow("read-only file system") << true;
}

void TestDownloadFaults::partFileNotCreatable()
{
    QFETCH(bool, readOnlyMount);
    m_server.setMode(FaultServer::IgnoreRange);
    std::unique_ptr<TmpfsMount> disk;
    if (readOnlyMount) {
        disk = std::make_unique<TmpfsMount>(QStringLiteral("size=1m"));
        if (!disk->isMounted() || !disk->remountReadOnly())
            QSKIP("mounting a read-only tmpfs needs root");
        m_folder = disk->path();
    } else {
        // Root ignores permissions, but nobody can make a folder inside a file.
        QDir().mkpath(m_folder);
        QVERIFY(FileContents::write(m_folder + QStringLiteral("/file"), "x"));
        m_folder += QStringLiteral("/file/downloads");
    }

    TestReceiver receiver;
    const QString part = start(receiver, QStringLiteral("nowhere.iso"));
    QPointer<Download> download = DownloadManager::instance()->currentDownload();
    QVERIFY(part.endsWith(QStringLiteral(".part")));
    QCOMPARE(receiver.errors.count(), 0); // not from inside downloadFile
    QVERIFY(receiver.errors.wait(10000));
    QCOMPARE(receiver.error(), QStringLiteral("The download file is not writable."));
    QTRY_VERIFY(!download);
    QCOMPARE(receiver.errors.count(), 1);
    QVERIFY(m_server.requestsFor("/nowhere.iso").isEmpty());
}

void TestDownloadFaults::unsafeFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("encoded slashes") << QStringLiteral("dl/..%2F..%2F.config%2Fautostart%2Fx.desktop");
    QTest::newRow("parent") << QStringLiteral("dl/..");
    QTest::newRow("encoded parent") << QStringLiteral("dl/%2E%2E");
    QTest::newRow("current") << QStringLiteral("dl/.");
    QTest::newRow("no name") << QStringLiteral("dl/");
    QTest::newRow("trailing encoded slash") << QStringLiteral("dl/x.iso%2F");
    QTest::newRow("nul") << QStringLiteral("dl/x%00.iso");
}

void TestDownloadFaults::unsafeFileName()
{
    QFETCH(QString, path);
    m_server.setMode(FaultServer::IgnoreRange);
    const QString sandbox = m_folder;
    const QString folder = sandbox + QStringLiteral("/a/b/Downloads");
    QVERIFY(QDir().mkpath(folder));
    const QUrl url(m_server.url(QString()).toString() + path);

    TestReceiver receiver;
    const QString returned = DownloadManager::instance()->downloadFile(&receiver, url, folder, nullptr);
    QPointer<Download> download = DownloadManager::instance()->currentDownload();
    QVERIFY2(returned.endsWith(QStringLiteral(".part")), qPrintable(returned));
    QVERIFY2(returned.startsWith(folder + QLatin1Char('/')), qPrintable(returned));
    QCOMPARE(receiver.errors.count(), 0);
    QVERIFY(receiver.errors.wait(5000));
    QCOMPARE(receiver.error(), QStringLiteral("Unable to fetch the requested image."));
    QTRY_VERIFY(!download);
    QCOMPARE(receiver.errors.count(), 1);
    QCOMPARE(receiver.files.count(), 0);
    const auto requests = m_server.requests();
    for (const QByteArray &request : requests)
        QVERIFY2(!request.startsWith("GET /dl/"), request.constData());
    QVERIFY(!DownloadManager::instance()->isDownloaded(url));

    QStringList created;
    QDirIterator it(sandbox, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        created.append(it.next().mid(sandbox.size()));
    created.sort();
    QCOMPARE(created, QStringList({ QStringLiteral("/a"), QStringLiteral("/a/b"), QStringLiteral("/a/b/Downloads") }));
}

QTEST_GUILESS_MAIN(TestDownloadFaults)
#include "tst_downloadfaults.moc"
