// Turning a feed reply into releases, versions and images: parsing, order,
// merging and the entries that must be refused. Replies are handed to the
// manager as the download manager would hand them.
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

using CatalogueEnvironment::Entry;
using CatalogueEnvironment::feed;

namespace {

// One line per release that holds images: "row subvariant: version[arch arch] version[arch]".
QString describe(ReleaseManager *manager)
{
    QStringList lines;
    for (int row = 1; row < manager->releaseList()->rowCount(); ++row) {
        Release *release = manager->get(row);
        if (release->versionList().isEmpty())
            continue;
        QString line = QStringLiteral("%1 %2:").arg(row).arg(release->subvariant());
        for (ReleaseVersion *version : release->versionList()) {
            QStringList arches;
            for (ReleaseVariant *variant : version->variantList())
                arches.append(variant->arch()->abbreviation().first());
            line += QStringLiteral(" %1[%2]").arg(version->name(), arches.join(QLatin1Char(' ')));
        }
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

QJsonObject with(QJsonObject object, const char *key, const QJsonValue &value)
{
    if (value.isUndefined())
        object.remove(QLatin1String(key));
    else
        object.insert(QLatin1String(key), value);
    return object;
}

} // namespace

class TestReleaseFeed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void realisticFeed();
    void sortedBySubvariant();
    void notAFeed_data();
    void notAFeed();
    void emptyFeed();
    void entryValues_data();
    void entryValues();
    void refusedLinks_data();
    void refusedLinks();
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

void TestReleaseFeed::realisticFeed()
{
    const auto entry = [](const char *subvariant, const char *arch, const char *version) {
        Entry e;
        e.subvariant = QLatin1String(subvariant);
        e.arch = QLatin1String(arch);
        e.version = QLatin1String(version);
        return e;
    };
    Entry zv73 = entry("zv73-standart", "x86_64", "7");
    zv73.variant = QStringLiteral("zv73");
    zv73.md5 = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
    zv73.size = QStringLiteral("1000");
    zv73.releaseDate = QStringLiteral("2023-10-01");
    Entry zv73i386 = zv73;
    zv73i386.arch = QStringLiteral("i386");
    Entry zv73beta = zv73;
    zv73beta.version = QStringLiteral("7 Beta");
    zv73beta.link = QStringLiteral("https://images.example/beta.iso");
    Entry zv73six = zv73;
    zv73six.version = QStringLiteral("6");
    Entry zv73five = zv73;
    zv73five.version = QStringLiteral("5");
    Entry zv73home = zv73;
    zv73home.subvariant = QStringLiteral("zv73-home");
    zv73home.edition = QStringLiteral("Home");
    Entry aarch64Update = entry("zv80-standart", "aarch64", "8.1");
    aarch64Update.link = QStringLiteral("https://images.example/8.1/aarch64.iso");
    Entry home8 = entry("zv80-home", "x86_64", "8");
    home8.edition = QStringLiteral("home");
    Entry homeArm = home8;
    homeArm.arch = QStringLiteral("armhfp");
    Entry home9 = home8;
    home9.version = QStringLiteral("9");
    Entry edu = entry("zv80-edu", "aarch64", "8");
    edu.edition = QStringLiteral("education");
    Entry cert = entry("zv80-cert", "x86_64", "8");
    cert.edition = QStringLiteral("cert");
    Entry certUpper = cert;
    certUpper.arch = QStringLiteral("X86_64");
    certUpper.version = QStringLiteral("9");
    Entry plain = entry("zv80", "x86_64", "8");
    plain.name = QStringLiteral("Zelvan 8");
    // Contained in the custom-image entry's subvariant "Other".
    Entry other = entry("Other", "x86_64", "1");
    other.variant = QStringLiteral("community");
    other.edition.clear();
    Entry upperVariant = entry("zv80-upper", "x86_64", "8");
    upperVariant.variant = QStringLiteral("ZV80");
    Entry mips = entry("zv80-mips", "mips", "8");
    Entry zero = entry("zv80-zero", "x86_64", "8");
    zero.link = QStringLiteral("file:///dev/zero");

    QList<QJsonObject> objects;
    for (const Entry &e : { zv73,
                            entry("zv80-standart", "x86_64", "8"),
                            entry("zv80-standart", "aarch64", "8"),
                            entry("zv80-standart", "i686", "8"),
                            entry("zv80-standart", "x86_64", "9 beta"),
                            entry("zv80-standart", "x86_64", "7"),
                            home8,
                            homeArm,
                            home9,
                            edu,
                            cert,
                            zv73i386,
                            zv73beta,
                            zv73six,
                            zv73five,
                            zv73home,
                            plain,
                            other,
                            upperVariant,
                            mips,
                            zero,
                            certUpper,
                            aarch64Update }) {
        objects.append(e.toObject());
    }
    const QJsonObject good = entry("zv80-bad", "x86_64", "8").toObject();
    objects.append(with(good, "LINK", QJsonValue::Undefined));
    objects.append(with(good, "ARCH", QString()));
    objects.append(with(good, "SUBVARIANT", 5));
    objects.insert(3, QJsonObject());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Architecture \"mips\" is not known!")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("\"file:///dev/zero\" is not an http")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Url .* changed to .*8.1/aarch64.iso")));
    QSignalSpy inserted(m_manager->releaseList(), &QAbstractItemModel::rowsInserted);
    m_manager->onStringDownloaded(feed(objects));

    QCOMPARE(m_manager->releaseList()->rowCount(), 24);
    QCOMPARE(inserted.size(), 23);
    QCOMPARE(
        describe(m_manager),
        (QStringList { "2 zv80-upper: 8[x86_64]", "3 zv80-standart: 9 Beta[x86_64] 8[x86_64 aarch64 x86] 7[x86_64]",
                       "10 zv80-home: 9[x86_64] 8[x86_64 armv7hl]", "13 zv80-edu: 8[aarch64]",
                       "14 zv80-cert: 9[x86_64] 8[x86_64]", "16 zv80: 8[x86_64]",
                       "17 zv73-standart: 7[x86_64 x86] 6[x86_64]", "22 zv73-home: 7[x86_64]", "23 Other: 1[x86_64]" }
             .join(QLatin1Char('\n'))));
    // Every usable entry has a row of its own, image or not.
    QCOMPARE(m_manager->get(1)->subvariant(), QStringLiteral("zv80-zero"));
    QCOMPARE(m_manager->get(2)->source(), Release::OTHER);
    QCOMPARE(m_manager->get(9)->subvariant(), QStringLiteral("zv80-mips"));
    QCOMPARE(m_manager->get(16)->name(), QStringLiteral("Zelvan 8"));
    QCOMPARE(m_manager->get(23)->source(), Release::OTHER);
    QCOMPARE(m_manager->get(23)->edition(), Release::NONE);
    QCOMPARE(m_manager->get(22)->edition(), Release::HOME);

    // The custom-image entry is left alone.
    Release *custom = m_manager->get(0);
    QCOMPARE(custom->versionList().size(), 1);
    QCOMPARE(custom->versionList().first()->variantList().size(), 1);
    QVERIFY(m_manager->localFile()->url().isEmpty());

    ReleaseVariant *updated = m_manager->get(3)->versionList().at(1)->variantList().at(1);
    QCOMPARE(updated->url(), QStringLiteral("https://images.example/8.1/aarch64.iso"));
    ReleaseVariant *zv73Image = m_manager->get(17)->versionList().first()->variantList().first();
    QCOMPARE(zv73Image->mdHash(), QStringLiteral("0123456789ABCDEF0123456789ABCDEF"));
    QCOMPARE(zv73Image->size(), 1000);
    QCOMPARE(zv73Image->url(), QStringLiteral("https://images.example/zv73-standart/7/x86_64.iso"));
    QCOMPARE(zv73Image->releaseVersion()->releaseDate().date(), QDate(2023, 10, 1));

    // The filter: x86_64, Zelvan 8, Standart; the newest final version of
    // each release that has x86_64 is the one selected.
    QVERIFY(m_manager->isReady());
    QVERIFY(!m_manager->isBeingUpdated());
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::X86_64));
    QCOMPARE(m_manager->rowCount(), 2);
    QCOMPARE(m_manager->data(m_manager->index(0, 0), ReleaseListModel::SourceIndexRole).toString(), "3");
    QCOMPARE(m_manager->data(m_manager->index(1, 0), ReleaseListModel::SourceIndexRole).toString(), "16");
    QCOMPARE(m_manager->get(3)->selectedVersion()->name(), QStringLiteral("8"));
    m_manager->setSelectedIndex(3);
    QCOMPARE(m_manager->variant()->fullName(), QStringLiteral("zv80-standart 8 x86_64"));
}

void TestReleaseFeed::sortedBySubvariant()
{
    QList<Entry> entries;
    for (const char *word : { "b", "A", "B", "c", "a" }) {
        Entry e;
        e.subvariant = QLatin1String(word);
        e.name = QStringLiteral("from %1").arg(QLatin1String(word));
        e.version = QString::number(entries.size() + 1);
        entries.append(e);
    }
    m_manager->onStringDownloaded(feed(entries));

    // Descending; equal words in feed order, the first of them holds the images.
    QStringList names;
    for (int row = 1; row < m_manager->releaseList()->rowCount(); ++row)
        names.append(m_manager->get(row)->name());
    QCOMPARE(names, (QStringList { "from c", "from b", "from B", "from A", "from a" }));
    QCOMPARE(describe(m_manager),
             (QStringList { "1 c: 4[x86_64]", "2 b: 3[x86_64] 1[x86_64]", "4 A: 5[x86_64] 2[x86_64]" }.join(
                 QLatin1Char('\n'))));
}

void TestReleaseFeed::notAFeed_data()
{
    QTest::addColumn<QString>("body");
    QTest::newRow("object") << "{\"SUBVARIANT\": \"zv80\"}";
    QTest::newRow("garbage") << "<html>Bad gateway</html>";
    QTest::newRow("empty") << "";
}

void TestReleaseFeed::notAFeed()
{
    QFETCH(QString, body);

    QSignalSpy ready(m_manager, &ReleaseManager::isReadyChanged);
    QSignalSpy updating(m_manager, &ReleaseManager::beingUpdatedChanged);
    m_manager->fetchReleases();
    QCOMPARE(updating.size(), 1);

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("ReleaseManager The metadata is not a JSON array")));
    m_manager->onStringDownloaded(body);
    QVERIFY(m_manager->isReady());
    QCOMPARE(ready.size(), 1);
    QVERIFY(m_manager->isBeingUpdated());
    QCOMPARE(updating.size(), 1);
    QCOMPARE(m_manager->releaseList()->rowCount(), 1);
}

void TestReleaseFeed::emptyFeed()
{
    QSignalSpy architectures(m_manager, &ReleaseManager::availableArchitecturesChanged);
    m_manager->fetchReleases();
    m_manager->onStringDownloaded(QStringLiteral("[]"));
    QVERIFY(m_manager->isReady());
    QVERIFY(!m_manager->isBeingUpdated());
    QCOMPARE(architectures.size(), 1);
    QCOMPARE(m_manager->releaseList()->rowCount(), 1);
    QVERIFY(m_manager->availableArchitectures().isEmpty());
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::X86_64));
}

void TestReleaseFeed::entryValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("version 9 beta") << "VERSION" << QJsonValue("9 beta") << "9 Beta";
    QTest::newRow("version 9beta") << "VERSION" << QJsonValue("9beta") << "9 Beta";
    QTest::newRow("version 10 ALPHA") << "VERSION" << QJsonValue("10 ALPHA") << "10 Alpha";
    QTest::newRow("version 8.1") << "VERSION" << QJsonValue("8.1") << "8";
    QTest::newRow("version 8.0 beta") << "VERSION" << QJsonValue("8.0 beta") << "8";
    QTest::newRow("version rc") << "VERSION" << QJsonValue("8 rc") << "8";
    QTest::newRow("version without digits") << "VERSION" << QJsonValue("rawhide") << "0";
    QTest::newRow("version as a number") << "VERSION" << QJsonValue(9) << "0";
    QTest::newRow("size") << "SIZE" << QJsonValue("4700000000") << "4700000000";
    QTest::newRow("size as a number") << "SIZE" << QJsonValue(4700) << "0";
    QTest::newRow("size with a sign") << "SIZE" << QJsonValue("+4700") << "0";
    QTest::newRow("negative size") << "SIZE" << QJsonValue("-4700") << "0";
    QTest::newRow("size with a space") << "SIZE" << QJsonValue("4700 ") << "0";
    QTest::newRow("size with Arabic-Indic digits") << "SIZE" << QJsonValue(QStringLiteral("\u0664\u0667")) << "0";
    QTest::newRow("size past qint64") << "SIZE" << QJsonValue("9223372036854775808") << "0";
    QTest::newRow("largest size") << "SIZE" << QJsonValue("9223372036854775807") << "9223372036854775807";
    QTest::newRow("date") << "releaseDate" << QJsonValue("2024-03-31") << "2024-03-31";
    QTest::newRow("date of a time-zone gap") << "releaseDate" << QJsonValue("2011-03-27") << "2011-03-27";
    QTest::newRow("impossible date") << "releaseDate" << QJsonValue("2024-02-30") << "";
    QTest::newRow("other date format") << "releaseDate" << QJsonValue("31.03.2024") << "";
    QTest::newRow("icon") << "ICON" << QJsonValue("https://images.example/icon.svg")
                          << "https://images.example/icon.svg";
    QTest::newRow("no icon") << "ICON" << QJsonValue(QJsonValue::Undefined) << "qrc:/logos/placeholder";
    QTest::newRow("icon not a string") << "ICON" << QJsonValue(3) << "";
    QTest::newRow("description") << "DESCRIPTION" << QJsonValue(QJsonArray { "<p>a</p>", 7, "<p>b</p>" })
                                 << "<p>a</p><p>b</p>";
    QTest::newRow("screenshots") << "SCREENSHOTS" << QJsonValue(QJsonArray { "s1.png", "s2.png" }) << "s1.png s2.png";
}

void TestReleaseFeed::entryValues()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(QString, expected);

    // Moscow left daylight saving time at midnight: no local midnight on that day.
    qputenv("TZ", "Europe/Moscow");
    Entry entry;
    entry.subvariant = QStringLiteral("zv80");
    entry.version = key == QLatin1String("VERSION") ? QString() : QStringLiteral("8");
    m_manager->onStringDownloaded(feed(QList<QJsonObject> { with(entry.toObject(), qPrintable(key), value) }));
    qunsetenv("TZ");

    Release *release = m_manager->get(1);
    QVERIFY(release);
    QCOMPARE(release->versionList().size(), 1);
    ReleaseVersion *version = release->versionList().first();
    ReleaseVariant *variant = version->variantList().first();
    QString actual;
    if (key == QLatin1String("VERSION"))
        actual = version->name();
    else if (key == QLatin1String("SIZE"))
        actual = QString::number(variant->size());
    else if (key == QLatin1String("releaseDate"))
        actual = version->releaseDate().isValid() ? version->releaseDate().date().toString(Qt::ISODate) : QString();
    else if (key == QLatin1String("ICON"))
        actual = release->icon();
    else if (key == QLatin1String("DESCRIPTION"))
        actual = release->description();
    else
        actual = release->screenshots().join(QLatin1Char(' '));
    QCOMPARE(actual, expected);
}

void TestReleaseFeed::refusedLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<QString>("warning");

    const QString digest = QStringLiteral("0123456789ABCDEF0123456789abcdef");
    const QString notWeb = QStringLiteral("is not an http or https address!");
    const QString noDigest = QStringLiteral("is plain http without an md5 to check it by!");
    QTest::newRow("https") << "https://images.example/zv80.iso"
                           << ""
                           << "";
    QTest::newRow("http with a digest") << "http://images.example/zv80.iso" << digest << "";
    QTest::newRow("http, upper-case scheme, with a digest") << "HTTP://images.example/zv80.iso" << digest << "";
    // Anyone on the way could replace what plain http brings.
    QTest::newRow("http without a digest") << "http://images.example/zv80.iso"
                                           << "" << noDigest;
    QTest::newRow("http, upper-case scheme, without a digest") << "HTTP://images.example/zv80.iso"
                                                               << "" << noDigest;
    QTest::newRow("http with a blank digest") << "http://images.example/zv80.iso"
                                              << "  " << noDigest;
    QTest::newRow("http with no md5 for a digest") << "http://images.example/zv80.iso"
                                                   << "latest" << noDigest;
    QTest::newRow("device") << "file:///dev/zero"
                            << "" << notWeb;
    QTest::newRow("local file") << "file:///etc/shadow"
                                << "" << notWeb;
    QTest::newRow("data") << "data:application/octet-stream;base64,AAAA"
                          << "" << notWeb;
    QTest::newRow("resource") << "qrc:/logos/folder"
                              << "" << notWeb;
    QTest::newRow("relative") << "images/zv80.iso"
                              << "" << notWeb;
    QTest::newRow("ftp") << "ftp://images.example/zv80.iso"
                         << "" << notWeb;
}

void TestReleaseFeed::refusedLinks()
{
    QFETCH(QString, link);
    QFETCH(QString, md5);
    QFETCH(QString, warning);

    Entry entry;
    entry.subvariant = QStringLiteral("zv80");
    entry.link = link;
    entry.md5 = md5;
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    m_manager->onStringDownloaded(feed({ entry }));
    // Appended like an entry of an unknown architecture, without an image.
    const bool taken = warning.isEmpty();
    QCOMPARE(m_manager->releaseList()->rowCount(), 2);
    QCOMPARE(m_manager->get(1)->versionList().size(), taken ? 1 : 0);
    QCOMPARE(m_manager->rowCount(), taken ? 1 : 0);
}

void TestReleaseFeed::secondReply()
{
    Entry first;
    first.subvariant = QStringLiteral("zv80-standart");
    Entry beta = first;
    beta.version = QStringLiteral("9 beta");
    const QString body = feed({ first, beta });
    m_manager->onStringDownloaded(body);
    QCOMPARE(describe(m_manager),
             (QStringList { "1 zv80-standart: 9 Beta[x86_64] 8[x86_64]" }.join(QLatin1Char('\n'))));
    QCOMPARE(m_manager->rowCount(), 1);
    QSignalSpy proxyInserted(m_manager, &QAbstractItemModel::rowsInserted);
    QSignalSpy proxyRemoved(m_manager, &QAbstractItemModel::rowsRemoved);
    QSignalSpy urlChanged(m_manager->get(1)->versionList().first()->variantList().first(), &ReleaseVariant::urlChanged);

    // The same feed again, from an overlapping fetch: two more rows without
    // images, and nothing changes for the pages.
    m_manager->onStringDownloaded(body);
    QCOMPARE(m_manager->releaseList()->rowCount(), 5);
    QCOMPARE(describe(m_manager),
             (QStringList { "1 zv80-standart: 9 Beta[x86_64] 8[x86_64]" }.join(QLatin1Char('\n'))));
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
    Entry entry;
    entry.subvariant = QStringLiteral("zv80-home");
    entry.edition = QStringLiteral("home");
    entry.arch = QStringLiteral("aarch64");
    m_manager->releaseList()->appendRelease(FeedEntry::parse(feed({ entry }).toUtf8()).first());
    QCOMPARE(architectures.size(), 1);
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::AARCH64));
    QCOMPARE(m_manager->rowCount(), 1);
}

QTEST_GUILESS_MAIN(TestReleaseFeed)
#include "tst_releasefeed.moc"
