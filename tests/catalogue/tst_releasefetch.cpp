// The fetch cycle against real servers on loopback: how many requests the
// catalogue makes over time for each kind of answer, and that a lasting TLS
// failure cannot make them multiply.
#include "catalogueenvironment.h"
#include "faultserver.h"
#include "filecontents.h"
#include "nginxserver.h"
#include "releaselistmodel.h"
#include "releasemanager.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSignalSpy>

class TestReleaseFetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void requestsOverTime_data();
    void requestsOverTime();
    void goodFeedArrivesWhileRetrying();

private:
    QTemporaryDir m_home;
    NginxServer m_http { NginxServer::Http };
    NginxServer m_https { NginxServer::Https };
    bool m_httpsStarted = false;
    FaultServer m_faults;
    ReleaseManager *m_manager = nullptr;
};

void TestReleaseFetch::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
    // The transfer code logs every chunk and failure; the counts are what matters here.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    if (!m_http.start())
        QSKIP(qPrintable(QStringLiteral("no nginx to test against: ") + m_http.errorString()));
    m_httpsStarted = m_https.start();
    QVERIFY(m_faults.start());

    const CatalogueEnvironment::Entry entry = CatalogueEnvironment::entry("zv80");
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/feed.json"),
                                CatalogueEnvironment::feed({ entry }).toUtf8()));
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/empty.json"), "[]"));
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/object.json"), "{\"zv80\": []}"));
    if (m_httpsStarted) {
        QVERIFY(FileContents::write(m_https.root() + QStringLiteral("/feed.json"),
                                    CatalogueEnvironment::feed({ entry }).toUtf8()));
    }
    // A stalled fetch ends on its own, long before the test does.
    DownloadManager::instance()->setInactivityTimeout(700);
}

void TestReleaseFetch::cleanup()
{
    if (m_manager) {
        m_manager->setFetchInterval(3600000);
        m_manager->setRetryInterval(3600000);
        QVERIFY(CatalogueEnvironment::fetchesEnded());
    }
    delete m_manager;
    m_manager = nullptr;
}

void TestReleaseFetch::requestsOverTime_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("fetchInterval");
    QTest::addColumn<bool>("feedArrives");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("retries");

    QTest::newRow("good feed") << "nginx"
                               << "/feed.json" << 200 << true << true << false;
    QTest::newRow("empty array") << "nginx"
                                 << "/empty.json" << 200 << false << true << false;
    QTest::newRow("not an array") << "nginx"
                                  << "/object.json" << 200 << false << true << false;
    // Every failed fetch is tried again after the retry interval.
    QTest::newRow("not found") << "nginx"
                               << "/missing.json" << 200 << false << false << true;
    QTest::newRow("server error") << "faults:500"
                                  << "/feed.json" << 200 << false << false << true;
    QTest::newRow("stall") << "faults:stall"
                           << "/feed.json" << 200 << false << false << true;
    QTest::newRow("server error, retries only") << "faults:500"
                                                << "/feed.json" << 3600000 << false << false << true;
    QTest::newRow("stall, retries only") << "faults:stall"
                                         << "/feed.json" << 3600000 << false << false << true;
    // A reply past 64 MiB is refused and counts as a failed fetch.
    QTest::newRow("endless feed, retries only") << "faults:endless"
                                                << "/feed.json" << 3600000 << false << false << true;
    QTest::newRow("lasting TLS failure") << "https"
                                         << "/feed.json" << 200 << false << false << true;
    QTest::newRow("TLS failure, retries only") << "https"
                                               << "/feed.json" << 3600000 << false << false << true;
}

void TestReleaseFetch::requestsOverTime()
{
    QFETCH(QString, server);
    QFETCH(QString, path);
    QFETCH(int, fetchInterval);
    QFETCH(bool, feedArrives);
    QFETCH(bool, ready);
    QFETCH(bool, retries);

    QUrl url;
    if (server == QLatin1String("nginx")) {
        url = m_http.url(path);
    } else if (server == QLatin1String("https")) {
        if (!m_httpsStarted)
            QSKIP("no HTTPS server could be made");
        url = m_https.url(path);
    } else {
        m_faults.setMode(server.endsWith(QLatin1String("stall"))         ? FaultServer::Stall
                             : server.endsWith(QLatin1String("endless")) ? FaultServer::Endless
                                                                         : FaultServer::Status);
        m_faults.setStatus(500);
        m_faults.setBody(QByteArray(4096, '['));
        m_faults.setLimit(10);
        url = m_faults.url(path.mid(1));
    }
    options.releasesUrl = url.toString();
    const int retryInterval = 400;
    const int duration = 3000;

    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(fetchInterval);
    m_manager->setRetryInterval(retryInterval);
    int fetches = 0;
    connect(m_manager, &ReleaseManager::beingUpdatedChanged, this, [this, &fetches]() {
        if (m_manager->isBeingUpdated())
            ++fetches;
    });
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(duration);
    const qint64 elapsed = clock.elapsed();
    const int fetchesSeen = fetches;

    QCOMPARE(m_manager->releaseList()->rowCount() > 1, feedArrives);
    QCOMPARE(m_manager->isReady(), ready);
    if (feedArrives) {
        // The first tick finds the catalogue and stops the timer for good.
        QCOMPARE(fetchesSeen, 1);
        QCOMPARE(m_http.requests().size() > 0 ? m_http.requests().last().uri : QString(), path);
        QVERIFY(!m_manager->isBeingUpdated());
        return;
    }

    // One fetch at once, one per tick of the timer, and at most one retry
    // pending at any time: never more, however long the fault lasts. (One
    // more for timers that fire a little early.)
    const int ticks = int(elapsed / fetchInterval);
    const int retriesAtMost = retries ? int(elapsed / retryInterval) : 0;
    QVERIFY2(fetchesSeen <= 2 + ticks + retriesAtMost,
             qPrintable(QStringLiteral("%1 fetches in %2 ms").arg(fetchesSeen).arg(elapsed)));
    // And it keeps trying: the timer, or the retries when the timer is far off.
    QVERIFY2(fetchesSeen >= 3, qPrintable(QStringLiteral("%1 fetches in %2 ms").arg(fetchesSeen).arg(elapsed)));
    // Only a reply that is a feed ends the update; let the fetches under way end first.
    m_manager->setFetchInterval(3600000);
    m_manager->setRetryInterval(3600000);
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    QCOMPARE(m_manager->isBeingUpdated(), path != QLatin1String("/empty.json"));
}

void TestReleaseFetch::goodFeedArrivesWhileRetrying()
{
    // The empty feed keeps the timer going; once the feed has entries the
    // next tick stops it and nothing more is fetched.
    options.releasesUrl = m_http.url(QStringLiteral("/later.json")).toString();
    QVERIFY(FileContents::write(m_http.root() + QStringLiteral("/later.json"), "[]"));
    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(150);
    QVERIFY(QTest::qWaitFor([this]() { return m_manager->isReady(); }, 10000));
    QTest::qWait(400);
    QVERIFY(m_manager->releaseList()->rowCount() == 1);

    QVERIFY(QFile::remove(m_http.root() + QStringLiteral("/later.json")));
    QVERIFY(QFile::copy(m_http.root() + QStringLiteral("/feed.json"), m_http.root() + QStringLiteral("/later.json")));
    QVERIFY(QTest::qWaitFor([this]() { return m_manager->releaseList()->rowCount() == 2; }, 10000));
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    const int requests = int(m_http.requests().size());
    QTest::qWait(600);
    QCOMPARE(int(m_http.requests().size()), requests);
    QCOMPARE(m_manager->rowCount(), 1);
}

QTEST_GUILESS_MAIN(TestReleaseFetch)
#include "tst_releasefetch.moc"
