// The manager's side of a feed reply: the parsed entries become rows and
// merged images, a reply that is no feed leaves the catalogue alone, and
// later replies and entries find the releases already there. What the
// parser itself reads and refuses is tst_feedentry.
#include "catalogueenvironment.h"
#include "feedentry.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QSignalSpy>

using CatalogueEnvironment::entry;
using CatalogueEnvironment::Entry;
using CatalogueEnvironment::feed;

namespace {

// One line per release: "row subvariant: version[arch arch] version[arch]".
QStringList describe(ReleaseManager *manager)
{
    QStringList lines;
    for (int row = 1; row < manager->releaseList()->rowCount(); ++row) {
        Release *release = manager->get(row);
        QString line = QStringLiteral("%1 %2:").arg(row).arg(release->subvariant());
        for (ReleaseVersion *version : release->versionList()) {
            QStringList arches;
            for (ReleaseVariant *variant : version->variantList())
                arches.append(variant->arch()->abbreviation().first());
            line += QStringLiteral(" %1[%2]").arg(version->name(), arches.join(QLatin1Char(' ')));
        }
        lines.append(line);
    }
    return lines;
}

} // namespace

class TestReleaseFeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void entriesBecomeReleases();
    void replies_data();
    void replies();
    void secondReply();
    void entryOutsideReply();

private:
    QTemporaryDir m_home;
    ReleaseManager *m_manager = nullptr;
    QAbstractItemModelTester *m_listTester = nullptr;
    QAbstractItemModelTester *m_proxyTester = nullptr;
};

void TestReleaseFeed::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
}

void TestReleaseFeed::init()
{
    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(3600000);
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    m_listTester = new QAbstractItemModelTester(m_manager->releaseList(),
                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_proxyTester = new QAbstractItemModelTester(m_manager, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestReleaseFeed::cleanup()
{
    delete m_proxyTester;
    delete m_listTester;
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    delete m_manager;
    m_manager = nullptr;
}

void TestReleaseFeed::entriesBecomeReleases()
{
    // The usable entries of every kind: grouped by the lower-cased subvariant
    // into the first release of it, an update of an image, images refused.
    QList<Entry> entries = { entry("zv80-standart"),
                             entry("ZV80-Standart", "aarch64"),
                             entry("zv80-standart", "x86_64", "10 alpha"),
                             entry("zv80-standart", "aarch64", "8.1"),
                             entry("zv80-home", "x86_64", "8", "home"),
                             entry("zv73-standart", "x86_64", "7", "standart", "zv73"),
                             entry("zv80-mips", "mips"),
                             entry("zv80-zero"),
                             entry("zv80-plain") };
    entries[0].name = QStringLiteral("Zelvan 8");
    entries[0].md5 = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
    entries[0].size = QStringLiteral("1000");
    entries[0].releaseDate = QStringLiteral("2023-10-01");
    entries[3].link = QStringLiteral("https://images.example/8.1/aarch64.iso");
    entries[7].link = QStringLiteral("file:///dev/zero");
    entries[8].link = QStringLiteral("http://images.example/plain.iso");
    QList<QJsonObject> objects;
    for (const Entry &each : entries)
        objects.append(each.toObject());
    objects[0].insert(QLatin1String("DESCRIPTION"), QJsonArray { "<p>a</p>" });
    objects[0].insert(QLatin1String("SCREENSHOTS"), QJsonArray { "s.png" });

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Architecture \"mips\" is not known!")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("\"file:///dev/zero\" is not an http")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("plain.iso\" is plain http without an md5")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Url .* changed to .*8.1/aarch64.iso")));
    QSignalSpy inserted(m_manager->releaseList(), &QAbstractItemModel::rowsInserted);
    m_manager->onStringDownloaded(feed(objects));

    // A row for every usable entry, its image refused or not.
    QCOMPARE(inserted.size(), 9);
    QCOMPARE(describe(m_manager),
             (QStringList { "1 zv80-zero:", "2 zv80-standart: 10 Alpha[x86_64] 8[x86_64 aarch64]",
                            "3 ZV80-Standart:", "4 zv80-standart:", "5 zv80-standart:", "6 zv80-plain:", "7 zv80-mips:",
                            "8 zv80-home: 8[x86_64]", "9 zv73-standart: 7[x86_64]" }));
    QCOMPARE(m_manager->get(8)->edition(), Release::HOME);
    QCOMPARE(m_manager->get(9)->source(), Release::ZV73);
    Release *release = m_manager->get(2);
    QCOMPARE(release->name(), QStringLiteral("Zelvan 8"));
    QCOMPARE(release->source(), Release::ZV80);
    QCOMPARE(release->edition(), Release::STANDART);
    QCOMPARE(release->description(), QStringLiteral("<p>a</p>"));
    QCOMPARE(release->screenshots(), QStringList { "s.png" });
    QCOMPARE(release->icon(), QStringLiteral("qrc:/logos/placeholder"));
    ReleaseVersion *eight = release->versionList().at(1);
    QCOMPARE(eight->releaseDate().date(), QDate(2023, 10, 1));
    ReleaseVariant *image = eight->variantList().first();
    QCOMPARE(image->url(), QStringLiteral("https://images.example/zv80-standart/8/x86_64.iso"));
    QCOMPARE(image->mdHash(), QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    QCOMPARE(image->size(), 1000);
    QCOMPARE(eight->variantList().at(1)->url(), QStringLiteral("https://images.example/8.1/aarch64.iso"));
    // The custom-image entry is left alone.
    QCOMPARE(m_manager->get(0)->versionList().size(), 1);
    QVERIFY(m_manager->localFile()->url().isEmpty());

    // The filter: x86_64, Zelvan 8, Standart; the newest final version with
    // x86_64 is the one selected.
    QVERIFY(!m_manager->isBeingUpdated());
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::X86_64));
    QCOMPARE(m_manager->rowCount(), 1);
    QCOMPARE(m_manager->data(m_manager->index(0, 0), ReleaseListModel::SourceIndexRole).toString(), "2");
    m_manager->setSelectedIndex(2);
    QCOMPARE(m_manager->variant(), image);
}

void TestReleaseFeed::replies_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("isFeed");

    QTest::newRow("not a feed") << "<html>Bad gateway</html>" << false;
    QTest::newRow("empty feed") << "[]" << true;
}

void TestReleaseFeed::replies()
{
    QFETCH(QString, body);
    QFETCH(bool, isFeed);

    QSignalSpy ready(m_manager, &ReleaseManager::isReadyChanged);
    QSignalSpy updating(m_manager, &ReleaseManager::beingUpdatedChanged);
    QSignalSpy architectures(m_manager, &ReleaseManager::availableArchitecturesChanged);
    m_manager->fetchReleases();
    QCOMPARE(updating.size(), 1);

    if (!isFeed) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("ReleaseManager The metadata is not a JSON array")));
    }
    m_manager->onStringDownloaded(body);
    QVERIFY(m_manager->isReady());
    QCOMPARE(ready.size(), 1);
    // Only a feed ends the update.
    QCOMPARE(m_manager->isBeingUpdated(), !isFeed);
    QCOMPARE(updating.size(), isFeed ? 2 : 1);
    QCOMPARE(architectures.size(), isFeed ? 1 : 0);
    QCOMPARE(m_manager->releaseList()->rowCount(), 1);
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::X86_64));
}

void TestReleaseFeed::secondReply()
{
    Entry first = entry("zv80-standart");
    Entry beta = first;
    beta.version = QStringLiteral("9 beta");
    const QString body = feed({ first, beta });
    m_manager->onStringDownloaded(body);
    QCOMPARE(describe(m_manager), (QStringList { "1 zv80-standart: 9 Beta[x86_64] 8[x86_64]", "2 zv80-standart:" }));
    QCOMPARE(m_manager->rowCount(), 1);
    QSignalSpy proxyInserted(m_manager, &QAbstractItemModel::rowsInserted);
    QSignalSpy proxyRemoved(m_manager, &QAbstractItemModel::rowsRemoved);
    QSignalSpy urlChanged(m_manager->get(1)->versionList().first()->variantList().first(), &ReleaseVariant::urlChanged);

    // The same feed again, from an overlapping fetch: two more rows without
    // images, and nothing changes for the pages.
    m_manager->onStringDownloaded(body);
    QCOMPARE(describe(m_manager),
             (QStringList { "1 zv80-standart: 9 Beta[x86_64] 8[x86_64]",
                            "2 zv80-standart:", "3 zv80-standart:", "4 zv80-standart:" }));
    QCOMPARE(m_manager->rowCount(), 1);
    QCOMPARE(proxyInserted.size(), 0);
    QCOMPARE(proxyRemoved.size(), 0);
    QCOMPARE(urlChanged.size(), 0);
}

void TestReleaseFeed::entryOutsideReply()
{
    // Without a reply around it an entry is merged and shown at once.
    QSignalSpy architectures(m_manager, &ReleaseManager::availableArchitecturesChanged);
    m_manager->setFilterEdition(Release::HOME);
    architectures.clear();
    const Entry home = entry("zv80-home", "aarch64", "8", "home");
    m_manager->releaseList()->appendRelease(FeedEntry::parse(feed({ home }).toUtf8()).first());
    QCOMPARE(architectures.size(), 1);
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::AARCH64));
    QCOMPARE(m_manager->rowCount(), 1);
}

QTEST_GUILESS_MAIN(TestReleaseFeed)
#include "tst_releasefeed.moc"
