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
#include <QScopeGuard>
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

    const auto row = [](const char *tag, const char *server, const char *path, int fetchInterval, bool feedArrives,
                        bool ready, bool retries) {
        QTest::newRow(tag) << QString::fromLatin1(server) << QString::fromLatin1(path) << fetchInterval << feedArrives
                           << ready << retries;
    };
    row("good feed", "nginx", "/feed.json", 200, true, true, false);
    row("empty array", "nginx", "/empty.json", 200, false, true, false);
    row("not an array", "nginx", "/object.json", 200, false, true, false);
    // Every failed fetch is tried again after the retry interval.
    row("not found", "nginx", "/missing.json", 200, false, false, true);
    row("server error", "faults:500", "/feed.json", 200, false, false, true);
    row("stall", "faults:stall", "/feed.json", 200, false, false, true);
    row("server error, retries only", "faults:500", "/feed.json", 3600000, false, false, true);
    row("stall, retries only", "faults:stall", "/feed.json", 3600000, false, false, true);
    // A reply past 64 MiB is refused and counts as a failed fetch.
    row("endless feed, retries only", "faults:endless", "/feed.json", 3600000, false, false, true);
    row("lasting TLS failure", "https", "/feed.json", 200, false, false, true);
    row("TLS failure, retries only", "https", "/feed.json", 3600000, false, false, true);
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
    // Enough fetches to tell one fetch per tick or retry from fetches that multiply.
    const int enough = 5;

    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(fetchInterval);
    m_manager->setRetryInterval(retryInterval);
    int fetches = 0;
    qint64 enoughAfter = -1;
    QElapsedTimer clock;
    clock.start();
    const QMetaObject::Connection counting = connect(m_manager, &ReleaseManager::beingUpdatedChanged, this, [&]() {
        if (m_manager->isBeingUpdated() && ++fetches == enough)
            enoughAfter = clock.elapsed();
    });
    const auto stopCounting = qScopeGuard([&counting] { disconnect(counting); });

    if (feedArrives) {
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->releaseList()->rowCount() > 1, 10000);
        QVERIFY(m_manager->isReady());
        // The first tick finds the catalogue and stops the timer for good. That
        // no tick comes after it can only be seen by waiting for several of them.
        QTest::qWait(5 * fetchInterval);
        QCOMPARE(fetches, 1);
        QCOMPARE(m_http.requests().size() > 0 ? m_http.requests().last().uri : QString(), path);
        QVERIFY(!m_manager->isBeingUpdated());
        return;
    }

    // It keeps trying: the timer, or the retries when the timer is far off.
    QTRY_VERIFY_WITH_TIMEOUT(enoughAfter >= 0, 60000);
    QCOMPARE(m_manager->releaseList()->rowCount() > 1, false);
    QCOMPARE(m_manager->isReady(), ready);
    // One fetch at once, one per tick of the timer, and at most one retry
    // pending at any time: fetches that multiply would come sooner than that.
    // (One more for timers that fire a little early.)
    const int ticks = int(enoughAfter / fetchInterval);
    const int retriesAtMost = retries ? int(enoughAfter / retryInterval) : 0;
    QVERIFY2(enough <= 2 + ticks + retriesAtMost,
             qPrintable(QStringLiteral("%1 fetches in %2 ms").arg(enough).arg(enoughAfter)));
    // Only a reply that is a feed ends the update; let the fetches under way
    // end first. The endless reply comes from a server in this thread: it
    // drains at the pace of a running event loop only.
    m_manager->setFetchInterval(3600000);
    m_manager->setRetryInterval(3600000);
    QTRY_VERIFY_WITH_TIMEOUT(CatalogueEnvironment::fetchesEnded(0), 30000);
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
    QTRY_VERIFY_WITH_TIMEOUT(m_manager->isReady(), 10000);
    // The empty feed is fetched again and again.
    const auto laterRequests = [this]() {
        const auto all = m_http.requests();
        return std::count_if(all.cbegin(), all.cend(),
                             [](const NginxServer::Request &r) { return r.uri == QLatin1String("/later.json"); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(laterRequests() >= 3, 10000);
    QCOMPARE(m_manager->releaseList()->rowCount(), 1);

    QVERIFY(QFile::remove(m_http.root() + QStringLiteral("/later.json")));
    QVERIFY(QFile::copy(m_http.root() + QStringLiteral("/feed.json"), m_http.root() + QStringLiteral("/later.json")));
    QTRY_COMPARE_WITH_TIMEOUT(m_manager->releaseList()->rowCount(), 2, 10000);
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    const auto requests = laterRequests();
    // No tick comes any more: only waiting for several of them can show it.
    QTest::qWait(4 * 150);
    QCOMPARE(laterRequests(), requests);
    QCOMPARE(m_manager->rowCount(), 1);
}

QTEST_GUILESS_MAIN(TestReleaseFetch)
#include "tst_releasefetch.moc"
