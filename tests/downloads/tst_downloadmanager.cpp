// The download manager against a real nginx on loopback, over HTTP and HTTPS.
#include "download.h"
#include "downloadmanager.h"
#include "filecontents.h"
#include "nginxserver.h"
#include "options.h"
#include "progress.h"
#include "testfiles.h"
#include "testreceiver.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace TestFiles;

static QUrl withQuery(QUrl url, const QString &query)
{
    url.setQuery(query);
    return url;
}

class TestDownloadManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void inactivityTimeout();
    void userAgent();
    void newDownload_data();
    void newDownload();
    void resumeAfterKill();
    void alreadyComplete();
    void fetchPage();
    void isDownloaded();
    void cancelKeepsPartFile();
    void replaceCurrentDownload();
    void sslFailures();

private:
    QList<NginxServer::Request> requestsFor(const QString &uri) const;

    NginxServer m_http { NginxServer::Http };
    NginxServer m_https { NginxServer::Https };
    bool m_httpsStarted = false;
    QByteArray m_image;
    QByteArray m_big;
    QTemporaryDir m_home;
    QTemporaryDir m_folderBase;
    QString m_folder;
    int m_folderCount = 0;
};

void TestDownloadManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // The downloads folder is not redirected by the test mode; a home of our own is.
    QVERIFY(m_home.isValid());
    qputenv("HOME", QFile::encodeName(m_home.path()));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Switzerland));
    // Every 64 KiB chunk logs two warnings; they drown the test output.
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));

    if (!m_http.start())
        QSKIP(qPrintable(QStringLiteral("no nginx to test against: ") + m_http.errorString()));
    m_httpsStarted = m_https.start();

    m_image = randomBytes(3 * 1048576 + 4321, 1);
    m_big = randomBytes(6 * 1048576 + 17, 2);
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/image.iso"), m_image));
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/big.iso"), m_big));
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/slow/big.iso"), m_big));
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/page.json"),
                                QStringLiteral("[{\"name\": \"Zelvan — рабочая станция\"}]").toUtf8()));
    if (m_httpsStarted) {
        QVERIFY(FileContents::write(m_https.root() + QStringLiteral("/page.json"), "[]"));
        QVERIFY(FileContents::write(m_https.root() + QStringLiteral("/image.iso"), m_image));
    }
    QVERIFY(m_folderBase.isValid());
}

void TestDownloadManager::init()
{
    m_folder = m_folderBase.filePath(QString::number(++m_folderCount));
}

void TestDownloadManager::cleanup()
{
    options.noUserAgent = false;
    DownloadManager::instance()->cancel();
    // Let the cancelled download go before the next test starts.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QList<NginxServer::Request> TestDownloadManager::requestsFor(const QString &uri) const
{
    QList<NginxServer::Request> result;
    const auto all = m_http.requests();
    for (const auto &request : all) {
        if (request.uri == uri)
            result.append(request);
    }
    return result;
}

void TestDownloadManager::inactivityTimeout()
{
    // The program's own value; only the fault tests shorten it.
    QCOMPARE(DownloadManager::instance()->inactivityTimeout(), 15000);
    QCOMPARE(Download::InactivityTimeout, 15000);
}

void TestDownloadManager::userAgent()
{
    const QString agent = DownloadManager::userAgent();
    // The language alone decides the locale: German in Switzerland shows as de_DE.
    const QRegularExpression form(QStringLiteral("^ZELVANFlashwright/5\\.2\\.12 \\([^()]+; [^;()]+; de_DE\\)$"));
    QVERIFY2(form.match(agent).hasMatch(), qPrintable(agent));
    QVERIFY(agent.contains(QSysInfo::buildAbi()));
}

void TestDownloadManager::newDownload_data()
{
    QTest::addColumn<bool>("noUserAgent");
    QTest::addColumn<qsizetype>("kept"); // bytes in the part file beforehand; -1: no part file
    QTest::addColumn<int>("status");
    QTest::newRow("with user agent") << false << qsizetype(-1) << 206;
    QTest::newRow("without user agent") << true << qsizetype(-1) << 206;
    QTest::newRow("resumed after a cut") << false << qsizetype(1048576 + 999) << 206;
    // Every byte is in the part file already, for instance because the
    // program ended before it could use it: the server's 416 confirms it.
    QTest::newRow("part file complete") << false << m_image.size() << 416;
}

void TestDownloadManager::newDownload()
{
    QFETCH(bool, noUserAgent);
    QFETCH(qsizetype, kept);
    QFETCH(int, status);
    options.noUserAgent = noUserAgent;
    const QString query = QString::number(m_folderCount);
    const QString path = m_folder + QStringLiteral("/image.iso.part");
    if (kept >= 0) {
        QDir().mkpath(m_folder);
        QVERIFY(FileContents::write(path, m_image.left(kept)));
    }

    TestReceiver receiver;
    // Announced size as the catalogue would set it: the value never passes it.
    Progress progress(nullptr, 0, 1000);
    bool beyondBound = false;
    connect(&progress, &Progress::valueChanged, this,
            [&]() { beyondBound = beyondBound || progress.value() > progress.to(); });
    // A complete part file is taken without anyone watching.
    Progress *watcher = status == 416 ? nullptr : &progress;
    QCOMPARE(DownloadManager::instance()->downloadFile(
                 &receiver, withQuery(m_http.url(QStringLiteral("image.iso")), query), m_folder, watcher),
             path);
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(receiver.files.wait(30000));
    QCOMPARE(receiver.errors.count(), 0);
    QCOMPARE(receiver.files.at(0).at(0).toString(), path);
    QCOMPARE(receiver.hash(), md5(m_image));
    QCOMPARE(FileContents::read(path), m_image);
    if (watcher) {
        QVERIFY(!beyondBound);
        QCOMPARE(progress.to(), double(m_image.size()));
        QCOMPARE(progress.value(), double(m_image.size()));
    }

    const auto requests = requestsFor(QStringLiteral("/image.iso?") + query);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=%1-").arg(qMax<qsizetype>(kept, 0)));
    QCOMPARE(requests.at(0).status, status);
    if (noUserAgent)
        QVERIFY(!requests.at(0).userAgent.contains(QStringLiteral("ZELVANFlashwright")));
    else
        QCOMPARE(requests.at(0).userAgent, DownloadManager::userAgent());
    // The finished download deletes itself and stops being current.
    QTRY_VERIFY(!DownloadManager::instance()->currentDownload());
}

void TestDownloadManager::resumeAfterKill()
{
    // A separate program downloads slowly and dies without any clean-up.
    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(QStringLiteral(DOWNLOAD_DRIVER), { m_http.url(QStringLiteral("slow/big.iso")).toString(), m_folder });
    QVERIFY2(driver.waitForStarted(), qPrintable(driver.errorString()));
    const QString part = m_folder + QStringLiteral("/big.iso.part");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() >= 1048576, 30000);
    driver.kill();
    QVERIFY(driver.waitForFinished());
    QCOMPARE(driver.exitStatus(), QProcess::CrashExit);

    const qint64 left = QFileInfo(part).size();
    QVERIFY(left < m_big.size());
    QCOMPARE(FileContents::read(part), m_big.left(left));

    TestReceiver receiver;
    Progress progress(nullptr, 0, 1);
    QCOMPARE(DownloadManager::instance()->downloadFile(&receiver, m_http.url(QStringLiteral("big.iso")), m_folder,
                                                       &progress),
             part);
    QVERIFY(receiver.files.wait(30000));
    QCOMPARE(receiver.hash(), md5(m_big));
    QCOMPARE(FileContents::read(part), m_big);
    QCOMPARE(progress.to(), double(m_big.size()));

    const auto requests = requestsFor(QStringLiteral("/big.iso"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=%1-").arg(left));
}

void TestDownloadManager::alreadyComplete()
{
    QDir().mkpath(m_folder);
    QVERIFY(FileContents::write(m_folder + QStringLiteral("/image.iso"), "done"));

    TestReceiver receiver;
    const QString path = DownloadManager::instance()->downloadFile(
        &receiver, withQuery(m_http.url(QStringLiteral("image.iso")), QStringLiteral("complete")), m_folder, nullptr);
    QCOMPARE(path, m_folder + QStringLiteral("/image.iso"));
    QVERIFY(!DownloadManager::instance()->currentDownload());
    QVERIFY(!QFileInfo::exists(path + QStringLiteral(".part")));
    // Nothing was started that could report later.
    QVERIFY(DownloadManager::instance()->findChildren<Download *>().isEmpty());
    QCOMPARE(receiver.reports(), 0);
    QVERIFY(requestsFor(QStringLiteral("/image.iso?complete")).isEmpty());
}

void TestDownloadManager::fetchPage()
{
    TestReceiver receiver;
    DownloadManager::instance()->fetchPageAsync(&receiver, m_http.url(QStringLiteral("page.json")).toString());
    QVERIFY(receiver.pages.wait(10000));
    QCOMPARE(receiver.pages.at(0).at(0).toString(), QStringLiteral("[{\"name\": \"Zelvan — рабочая станция\"}]"));

    const auto requests = requestsFor(QStringLiteral("/page.json"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("-"));
    QCOMPARE(requests.at(0).userAgent, DownloadManager::userAgent());
    // The page fetch is not the current file download.
    QVERIFY(!DownloadManager::instance()->currentDownload());
}

void TestDownloadManager::isDownloaded()
{
    const QString dir = DownloadManager::dir();
    QVERIFY2(dir.startsWith(m_home.path() + QLatin1Char('/')), qPrintable(dir));
    QDir().mkpath(dir);
    const QString file = dir + QStringLiteral("/present.iso");
    QVERIFY(FileContents::write(file, "x"));
    auto *manager = DownloadManager::instance();
    QVERIFY(manager->isDownloaded(QUrl(QStringLiteral("https://example.invalid/a/present.iso"))));
    QVERIFY(manager->isDownloaded(QUrl(QStringLiteral("https://example.invalid/b/pres%65nt.iso"))));
    QVERIFY(!manager->isDownloaded(QUrl(QStringLiteral("https://example.invalid/a/absent.iso"))));
    // A part file is not a download.
    QVERIFY(FileContents::write(dir + QStringLiteral("/partial.iso.part"), "x"));
    QVERIFY(!manager->isDownloaded(QUrl(QStringLiteral("https://example.invalid/partial.iso"))));
    QFile::remove(file);
    QFile::remove(dir + QStringLiteral("/partial.iso.part"));
}

void TestDownloadManager::cancelKeepsPartFile()
{
    TestReceiver receiver;
    Progress progress(nullptr, 0, 1);

    auto *manager = DownloadManager::instance();
    const QString part
        = manager->downloadFile(&receiver, m_http.url(QStringLiteral("slow/big.iso")), m_folder, &progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress.value() > 0, 10000);
    QPointer<Download> download = manager->currentDownload();
    QVERIFY(download);
    manager->cancel();
    QVERIFY(!manager->currentDownload());
    QTRY_VERIFY(!download);
    const qint64 size = QFileInfo(part).size();
    QVERIFY(size > 0);
    QCOMPARE(FileContents::read(part), m_big.left(size));
    // Deleted, it reports nothing any more.
    QCOMPARE(receiver.reports(), 0);
    // Cancelling again, with nothing current, is harmless.
    manager->cancel();
}

void TestDownloadManager::replaceCurrentDownload()
{
    TestReceiver first;
    TestReceiver second;

    auto *manager = DownloadManager::instance();
    manager->downloadFile(&first, m_http.url(QStringLiteral("slow/big.iso")), m_folder, nullptr);
    QPointer<Download> old = manager->currentDownload();
    QVERIFY(old);
    manager->downloadFile(&second, withQuery(m_http.url(QStringLiteral("image.iso")), QStringLiteral("second")),
                          m_folder, nullptr);
    QPointer<Download> current = manager->currentDownload();
    QVERIFY(current && current != old);

    // The old one goes, the new one stays current and makes its request.
    QTRY_VERIFY(!old);
    QCOMPARE(manager->currentDownload(), current.data());
    QVERIFY(second.files.wait(30000));
    QCOMPARE(second.hash(), md5(m_image));
    QCOMPARE(first.reports(), 0);
    QCOMPARE(requestsFor(QStringLiteral("/image.iso?second")).size(), 1);
}

void TestDownloadManager::sslFailures()
{
    if (!m_httpsStarted)
        QSKIP(qPrintable(QStringLiteral("no HTTPS server: ") + m_https.errorString()));
    // Qt refuses the self-signed certificate: reported once for a page,
    // twice for a file download with no address left.
    TestReceiver page;
    DownloadManager::instance()->fetchPageAsync(&page, m_https.url(QStringLiteral("page.json")).toString());
    QVERIFY(page.errors.wait(10000));
    QVERIFY(onlyCurrentTransferLeft());
    QCOMPARE(page.errors.count(), 1);
    QCOMPARE(page.pages.count(), 0);
    QCOMPARE(page.error(), QStringLiteral("The certificate is self-signed, and untrusted"));

    TestReceiver file;
    DownloadManager::instance()->downloadFile(&file, m_https.url(QStringLiteral("image.iso")), m_folder, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(file.errors.count(), 2, 10000);
    // The failed download stays current with nothing to wait for: a quiet
    // while shows that no third report comes.
    QVERIFY(!file.errors.wait(500));
    QCOMPARE(file.errors.count(), 2);
    QCOMPARE(file.files.count(), 0);
    QCOMPARE(file.error(), QStringLiteral("The certificate is self-signed, and untrusted"));
    const QString last = file.error(1);
    QVERIFY2(last.contains(QStringLiteral("SSL"), Qt::CaseInsensitive), qPrintable(last));
    QVERIFY(!QFileInfo::exists(m_folder + QStringLiteral("/image.iso.part")));
}

QTEST_GUILESS_MAIN(TestDownloadManager)
#include "tst_downloadmanager.moc"
