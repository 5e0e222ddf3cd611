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
    void resumeAfterCut();
    void resumeAfterKill();
    void alreadyComplete();
    void partFileComplete();
    void fetchPage();
    void notFound_data();
    void notFound();
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
    QTest::newRow("with user agent") << false;
    QTest::newRow("without user agent") << true;
}

void TestDownloadManager::newDownload()
{
    QFETCH(bool, noUserAgent);
    options.noUserAgent = noUserAgent;
    const QString uri = QStringLiteral("/image.iso?%1").arg(int(noUserAgent));

    TestReceiver receiver;
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QSignalSpy errors(&receiver, &TestReceiver::downloadError);
    QVERIFY(files.isValid() && errors.isValid());
    Progress progress(nullptr, 0, 1);

    const QString path = DownloadManager::instance()->downloadFile(
        &receiver, withQuery(m_http.url(QStringLiteral("image.iso")), QString::number(noUserAgent)), m_folder,
        &progress);
    QCOMPARE(path, m_folder + QStringLiteral("/image.iso.part"));
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(files.wait(30000));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(files.at(0).at(0).toString(), path);
    QCOMPARE(files.at(0).at(1).toString(), md5(m_image));
    QCOMPARE(FileContents::read(path), m_image);
    QCOMPARE(progress.to(), double(m_image.size()));
    QCOMPARE(progress.value(), double(m_image.size()));

    const auto requests = requestsFor(uri);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=0-"));
    if (noUserAgent)
        QVERIFY(!requests.at(0).userAgent.contains(QStringLiteral("ZELVANFlashwright")));
    else
        QCOMPARE(requests.at(0).userAgent, DownloadManager::userAgent());
    // The finished download deletes itself and stops being current.
    QTRY_VERIFY(!DownloadManager::instance()->currentDownload());
}

void TestDownloadManager::resumeAfterCut()
{
    const qsizetype kept = 1048576 + 999;
    QDir().mkpath(m_folder);
    QVERIFY(FileContents::write(m_folder + QStringLiteral("/image.iso.part"), m_image.left(kept)));

    TestReceiver receiver;
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QVERIFY(files.isValid());
    // Announced size as the catalogue would set it: the value never passes it.
    Progress progress(nullptr, 0, 1000);
    double highest = 0;
    bool beyondBound = false;
    connect(&progress, &Progress::valueChanged, this, [&]() {
        highest = qMax(highest, progress.value());
        beyondBound = beyondBound || progress.value() > progress.to();
    });

    DownloadManager::instance()->downloadFile(
        &receiver, withQuery(m_http.url(QStringLiteral("image.iso")), QStringLiteral("cut")), m_folder, &progress);
    QVERIFY(files.wait(30000));
    QCOMPARE(files.at(0).at(1).toString(), md5(m_image));
    QCOMPARE(FileContents::read(m_folder + QStringLiteral("/image.iso.part")), m_image);
    QVERIFY(!beyondBound);
    QCOMPARE(progress.to(), double(m_image.size()));

    const auto requests = requestsFor(QStringLiteral("/image.iso?cut"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=%1-").arg(kept));
    QCOMPARE(requests.at(0).status, 206);
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
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QVERIFY(files.isValid());
    Progress progress(nullptr, 0, 1);
    QCOMPARE(DownloadManager::instance()->downloadFile(&receiver, m_http.url(QStringLiteral("big.iso")), m_folder,
                                                       &progress),
             part);
    QVERIFY(files.wait(30000));
    QCOMPARE(files.at(0).at(1).toString(), md5(m_big));
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
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QSignalSpy errors(&receiver, &TestReceiver::downloadError);
    QVERIFY(files.isValid() && errors.isValid());
    const QString path = DownloadManager::instance()->downloadFile(
        &receiver, withQuery(m_http.url(QStringLiteral("image.iso")), QStringLiteral("complete")), m_folder, nullptr);
    QCOMPARE(path, m_folder + QStringLiteral("/image.iso"));
    QVERIFY(!DownloadManager::instance()->currentDownload());
    QVERIFY(!QFileInfo::exists(path + QStringLiteral(".part")));
    QVERIFY(!files.wait(300));
    QCOMPARE(errors.count(), 0);
    QVERIFY(requestsFor(QStringLiteral("/image.iso?complete")).isEmpty());
}

void TestDownloadManager::partFileComplete()
{
    // Every byte is in the part file already, for instance because the
    // program ended before it could use it: the server's 416 confirms it.
    QDir().mkpath(m_folder);
    const QString part = m_folder + QStringLiteral("/image.iso.part");
    QVERIFY(FileContents::write(part, m_image));

    TestReceiver receiver;
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QSignalSpy errors(&receiver, &TestReceiver::downloadError);
    QVERIFY(files.isValid() && errors.isValid());
    const QUrl url = withQuery(m_http.url(QStringLiteral("image.iso")), QStringLiteral("whole"));
    QCOMPARE(DownloadManager::instance()->downloadFile(&receiver, url, m_folder, nullptr), part);
    QVERIFY(files.wait(10000));
    QCOMPARE(files.at(0).at(0).toString(), part);
    QCOMPARE(files.at(0).at(1).toString(), md5(m_image));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(FileContents::read(part), m_image);

    const auto requests = requestsFor(QStringLiteral("/image.iso?whole"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("bytes=%1-").arg(m_image.size()));
    QCOMPARE(requests.at(0).status, 416);
}

void TestDownloadManager::fetchPage()
{
    TestReceiver receiver;
    QSignalSpy pages(&receiver, &TestReceiver::stringDownloaded);
    QVERIFY(pages.isValid());
    DownloadManager::instance()->fetchPageAsync(&receiver, m_http.url(QStringLiteral("page.json")).toString());
    QVERIFY(pages.wait(10000));
    QCOMPARE(pages.at(0).at(0).toString(), QStringLiteral("[{\"name\": \"Zelvan — рабочая станция\"}]"));

    const auto requests = requestsFor(QStringLiteral("/page.json"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).range, QStringLiteral("-"));
    QCOMPARE(requests.at(0).userAgent, DownloadManager::userAgent());
    // The page fetch is not the current file download.
    QVERIFY(!DownloadManager::instance()->currentDownload());
}

void TestDownloadManager::notFound_data()
{
    QTest::addColumn<QByteArray>("partContent");
    QTest::newRow("new download") << QByteArray();
    QTest::newRow("resumed download") << QByteArray("already here");
}

void TestDownloadManager::notFound()
{
    QFETCH(QByteArray, partContent);
    QDir().mkpath(m_folder);
    const QString part = m_folder + QStringLiteral("/missing.iso.part");
    if (!partContent.isEmpty())
        QVERIFY(FileContents::write(part, partContent));

    TestReceiver receiver;
    QSignalSpy errors(&receiver, &TestReceiver::downloadError);
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QVERIFY(errors.isValid() && files.isValid());
    DownloadManager::instance()->downloadFile(&receiver, m_http.url(QStringLiteral("missing.iso")), m_folder, nullptr);
    QVERIFY(errors.wait(10000));
    QVERIFY2(errors.at(0).at(0).toString().contains(QStringLiteral("Not Found")),
             qPrintable(errors.at(0).at(0).toString()));
    QVERIFY(!files.wait(300));
    QCOMPARE(errors.count(), 1);
    // An empty part file goes; a resumable one stays as it was, without the error page.
    QCOMPARE(QFileInfo::exists(part), !partContent.isEmpty());
    if (!partContent.isEmpty())
        QCOMPARE(FileContents::read(part), partContent);
    // A download that failed on the network stays current until replaced.
    QVERIFY(DownloadManager::instance()->currentDownload());
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
    QSignalSpy files(&receiver, &TestReceiver::fileDownloaded);
    QSignalSpy errors(&receiver, &TestReceiver::downloadError);
    QVERIFY(files.isValid() && errors.isValid());
    Progress progress(nullptr, 0, 1);
    QSignalSpy values(&progress, &Progress::valueChanged);
    QVERIFY(values.isValid());

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
    QVERIFY(!files.wait(500));
    QCOMPARE(errors.count(), 0);
    // Cancelling again, with nothing current, is harmless.
    manager->cancel();
}

void TestDownloadManager::replaceCurrentDownload()
{
    TestReceiver first;
    TestReceiver second;
    QSignalSpy firstFiles(&first, &TestReceiver::fileDownloaded);
    QSignalSpy firstErrors(&first, &TestReceiver::downloadError);
    QSignalSpy secondFiles(&second, &TestReceiver::fileDownloaded);
    QVERIFY(firstFiles.isValid() && firstErrors.isValid() && secondFiles.isValid());

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
    QVERIFY(secondFiles.wait(30000));
    QCOMPARE(secondFiles.at(0).at(1).toString(), md5(m_image));
    QCOMPARE(firstFiles.count() + firstErrors.count(), 0);
    QCOMPARE(requestsFor(QStringLiteral("/image.iso?second")).size(), 1);
}

void TestDownloadManager::sslFailures()
{
    if (!m_httpsStarted)
        QSKIP(qPrintable(QStringLiteral("no HTTPS server: ") + m_https.errorString()));
    // Qt refuses the self-signed certificate: reported once for a page,
    // twice for a file download with no address left.
    TestReceiver page;
    QSignalSpy pageErrors(&page, &TestReceiver::downloadError);
    QSignalSpy pages(&page, &TestReceiver::stringDownloaded);
    QVERIFY(pageErrors.isValid() && pages.isValid());
    DownloadManager::instance()->fetchPageAsync(&page, m_https.url(QStringLiteral("page.json")).toString());
    QVERIFY(pageErrors.wait(10000));
    QVERIFY(!pageErrors.wait(500));
    QCOMPARE(pageErrors.count(), 1);
    QCOMPARE(pages.count(), 0);
    QCOMPARE(pageErrors.at(0).at(0).toString(), QStringLiteral("The certificate is self-signed, and untrusted"));

    TestReceiver file;
    QSignalSpy fileErrors(&file, &TestReceiver::downloadError);
    QSignalSpy files(&file, &TestReceiver::fileDownloaded);
    QVERIFY(fileErrors.isValid() && files.isValid());
    DownloadManager::instance()->downloadFile(&file, m_https.url(QStringLiteral("image.iso")), m_folder, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(fileErrors.count(), 2, 10000);
    QVERIFY(!fileErrors.wait(500));
    QCOMPARE(fileErrors.count(), 2);
    QCOMPARE(files.count(), 0);
    QCOMPARE(fileErrors.at(0).at(0).toString(), QStringLiteral("The certificate is self-signed, and untrusted"));
    const QString last = fileErrors.at(1).at(0).toString();
    QVERIFY2(last.contains(QStringLiteral("SSL"), Qt::CaseInsensitive), qPrintable(last));
    QVERIFY(!QFileInfo::exists(m_folder + QStringLiteral("/image.iso.part")));
}

QTEST_GUILESS_MAIN(TestDownloadManager)
#include "tst_downloadmanager.moc"
