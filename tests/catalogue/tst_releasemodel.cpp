// Releases, versions, variants and architectures: naming, ordering, merging,
// statuses and the drive back end's say on them.
#include "catalogueenvironment.h"
#include "drivebackend.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"
#include "testlocale.h"

#include <QPointer>
#include <QSignalSpy>

namespace {

class TestBackend : public DriveBackend
{
public:
    [[nodiscard]] bool isBackendBroken() const override { return broken; }
    bool broken = false;
};

// "8", "9 beta", ... as the feed passes them to the merge: number and status word.
struct VersionWord
{
    int number;
    QString status;
};

} // namespace

Q_DECLARE_METATYPE(VersionWord)

class TestReleaseModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void architectureLookup_data();
    void architectureLookup();
    void architectureTable();
    void releaseTexts();
    void versionNames_data();
    void versionNames();
    void variantNames_data();
    void variantNames();
    void versionOrderAndSelection_data();
    void versionOrderAndSelection();
    void thirdFinalVersion_data();
    void thirdFinalVersion();
    void lessFinalEntryRefused();
    void preReleaseBecomesFinal();
    void variantMerge_data();
    void variantMerge();
    void removeSelectedVersion();
    void busyVersionOutlivesRemoval_data();
    void busyVersionOutlivesRemoval();
    void statusSetters();
    void resetStatus_data();
    void resetStatus();
    void brokenBackend();
    void progressRange();
    void russianTexts();

private:
    Release *addRelease(const QString &name, Release::Source source = Release::ZV80);
    ReleaseVariant *addImage(Release *release, const VersionWord &version,
                             const QString &arch = QStringLiteral("x86_64"));

    QTemporaryDir m_home;
    ReleaseManager *m_manager = nullptr;
};

void TestReleaseModel::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
}

void TestReleaseModel::init()
{
    m_manager = new ReleaseManager();
    // No fetch may start during a test function: only the first one, at once.
    m_manager->setFetchInterval(3600000);
}

void TestReleaseModel::cleanup()
{
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    delete m_manager;
    m_manager = nullptr;
}

Release *TestReleaseModel::addRelease(const QString &name, Release::Source source)
{
    return new Release(m_manager, 1, name, name, {}, name.toLower(), source, Release::STANDART, QString(), {});
}

ReleaseVariant *TestReleaseModel::addImage(Release *release, const VersionWord &version, const QString &arch)
{
    release->updateUrl(version.number, version.status, QStringLiteral("live"), QDateTime(), arch,
                       QStringLiteral("https://images.example/%1-%2.iso").arg(version.number).arg(arch), QString(), 0);
    for (ReleaseVersion *each : release->versionList()) {
        if (each->number() == version.number) {
            for (ReleaseVariant *variant : each->variantList()) {
                if (variant->arch() == ReleaseArchitecture::fromAbbreviation(arch))
                    return variant;
            }
        }
    }
    return nullptr;
}

void TestReleaseModel::architectureLookup_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("id");

    QTest::newRow("aarch64") << "aarch64" << int(ReleaseArchitecture::AARCH64);
    QTest::newRow("x86_64") << "x86_64" << int(ReleaseArchitecture::X86_64);
    QTest::newRow("x86") << "x86" << int(ReleaseArchitecture::X86);
    QTest::newRow("i386") << "i386" << int(ReleaseArchitecture::X86);
    QTest::newRow("i686") << "i686" << int(ReleaseArchitecture::X86);
    QTest::newRow("armv7hl") << "armv7hl" << int(ReleaseArchitecture::ARM);
    QTest::newRow("armhfp") << "armhfp" << int(ReleaseArchitecture::ARM);
    QTest::newRow("upper case") << "X86_64" << -1;
    QTest::newRow("amd64") << "amd64" << -1;
    QTest::newRow("part of a word") << "x86_" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestReleaseModel::architectureLookup()
{
    QFETCH(QString, word);
    QFETCH(int, id);

    ReleaseArchitecture *architecture = ReleaseArchitecture::fromAbbreviation(word);
    QCOMPARE(ReleaseArchitecture::isKnown(word), id >= 0);
    QCOMPARE(architecture ? architecture->index() : -1, id);
    if (architecture)
        QCOMPARE(architecture, ReleaseArchitecture::fromId(ReleaseArchitecture::Id(id)));
}

void TestReleaseModel::architectureTable()
{
    QCOMPARE(ReleaseArchitecture::fromId(ReleaseArchitecture::Id(4)), nullptr);
    QCOMPARE(ReleaseArchitecture::fromId(ReleaseArchitecture::Id(-1)), nullptr);
    QCOMPARE(ReleaseArchitecture::listAllDescriptions(), (QStringList { "AArch64", "x86_64", "x86", "ARM v7" }));
    const QList<ReleaseArchitecture *> all = ReleaseArchitecture::listAll();
    QCOMPARE(all.size(), 4);
    for (int i = 0; i < all.size(); ++i) {
        QCOMPARE(all.at(i)->index(), i);
        QCOMPARE(int(all.at(i)->id()), i);
        QCOMPARE(all.at(i)->property("id").toInt(), i);
    }
    QCOMPARE(all.at(0)->details(), QStringLiteral("Image for for AArch64 machines"));
    QCOMPARE(all.at(3)->abbreviation(), (QStringList { "armv7hl", "armhfp" }));
}

void TestReleaseModel::releaseTexts()
{
    auto *other = new Release(m_manager, 3, QStringLiteral("Zelvan"), QStringLiteral("Zelvan"),
                              { QStringLiteral("<p>One</p>"), QStringLiteral("<p>Two</p>") }, QStringLiteral("zv"),
                              Release::OTHER, Release::HOME, QStringLiteral("qrc:/logos/placeholder"), {});
    QCOMPARE(other->sourceString(), QStringLiteral("Other"));
    QCOMPARE(other->property("category").toString(), QStringLiteral("Other"));
    QCOMPARE(other->editionString(), QStringLiteral("Home Edition"));
    QCOMPARE(other->description(), QStringLiteral("<p>One</p><p>Two</p>"));
    QVERIFY(!other->isLocal());
    QCOMPARE(other->manager(), m_manager);

    Release *zv80 = addRelease(QStringLiteral("A"));
    QCOMPARE(zv80->sourceString(), QString());
    QCOMPARE(zv80->editionString(), QStringLiteral("Standart Edition"));

    // The custom-image entry, as the list makes it.
    Release *custom = m_manager->get(0);
    QVERIFY(custom->isLocal());
    QCOMPARE(custom->name(), QStringLiteral("Custom image"));
    QCOMPARE(custom->summary(), QStringLiteral("Pick a file from your drive(s)"));
    QCOMPARE(custom->editionString(), QString());
    QCOMPARE(custom->icon(), QStringLiteral("qrc:/logos/folder"));
    QCOMPARE(custom->versionList().size(), 1);
    ReleaseVariant *variant = custom->versionList().first()->variantList().first();
    QCOMPARE(variant->status(), ReleaseVariant::PREPARING);
    QCOMPARE(variant->arch()->id(), ReleaseArchitecture::X86_64);
    QVERIFY(variant->url().isEmpty());
}

void TestReleaseModel::versionNames_data()
{
    QTest::addColumn<ReleaseVersion::Status>("status");
    QTest::addColumn<QString>("name"); // and the release's pre-release name, but for a final version

    QTest::newRow("final") << ReleaseVersion::FINAL << QStringLiteral("8");
    QTest::newRow("rc") << ReleaseVersion::RELEASE_CANDIDATE << QStringLiteral("8 Release Candidate");
    QTest::newRow("beta") << ReleaseVersion::BETA << QStringLiteral("8 Beta");
    QTest::newRow("alpha") << ReleaseVersion::ALPHA << QStringLiteral("8 Alpha");
}

void TestReleaseModel::versionNames()
{
    QFETCH(ReleaseVersion::Status, status);
    QFETCH(QString, name);
    const bool final = status == ReleaseVersion::FINAL;

    Release *release = addRelease(QStringLiteral("A"));
    QCOMPARE(release->prerelease(), QString());
    QSignalSpy prereleaseChanged(release, &Release::prereleaseChanged);
    auto *version = new ReleaseVersion(release, 8, status, QDateTime());
    QCOMPARE(prereleaseChanged.size(), final ? 0 : 1);
    release->addVersion(version);
    QCOMPARE(version->name(), name);
    QCOMPARE(release->versionNames(), QStringList { name });
    QCOMPARE(release->prerelease(), final ? QString() : name);
}

void TestReleaseModel::variantNames_data()
{
    QTest::addColumn<QString>("arch");
    QTest::addColumn<ReleaseVariant::Type>("type");
    QTest::addColumn<QString>("name");

    QTest::newRow("live") << "x86_64" << ReleaseVariant::LIVE << "x86_64";
    QTest::newRow("atomic") << "aarch64" << ReleaseVariant::ATOMIC << "AArch64 - Atomic";
    QTest::newRow("full") << "i686" << ReleaseVariant::FULL << "x86 - Full Image";
    QTest::newRow("netinstall") << "armhfp" << ReleaseVariant::NETINSTALL << "ARM v7 - Net Install";
}

void TestReleaseModel::variantNames()
{
    QFETCH(QString, arch);
    QFETCH(ReleaseVariant::Type, type);
    QFETCH(QString, name);

    Release *release = addRelease(QStringLiteral("Zelvan Workstation"));
    auto *version = new ReleaseVersion(release, 8, ReleaseVersion::BETA, QDateTime());
    release->addVersion(version);
    auto *variant = new ReleaseVariant(version, QStringLiteral("https://images.example/a.iso"), QString(), 0,
                                       ReleaseArchitecture::fromAbbreviation(arch), type);
    version->addVariant(variant);
    QCOMPARE(variant->name(), name);
    QCOMPARE(variant->fullName(), QStringLiteral("Zelvan Workstation 8 Beta ") + name);
    QCOMPARE(variant->release(), release);
    QCOMPARE(variant->releaseVersion(), version);

    // The user's own image is named after its file.
    m_manager->get(0)->setLocalFile(QString());
    auto *local
        = new ReleaseVariant(m_manager->get(0)->versionList().first(), QStringLiteral("/home/u/img/disk.iso"), 0);
    QCOMPARE(local->fullName(), QStringLiteral("disk.iso"));
}

void TestReleaseModel::versionOrderAndSelection_data()
{
    QTest::addColumn<QList<VersionWord>>("added");
    QTest::addColumn<int>("selectBefore");
    QTest::addColumn<VersionWord>("last");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<int>("selected");

    QTest::newRow("equal numbers keep their order") << QList<VersionWord> { { 7, "" }, { 8, "" } } << 0
                                                    << VersionWord { 8, "" } << QStringList { "8", "8", "7" } << 0;
    QTest::newRow("higher beta keeps the selection on its version")
        << QList<VersionWord> { { 8, "" } } << 0 << VersionWord { 9, "beta" } << QStringList { "9 Beta", "8" } << 1;
    QTest::newRow("higher final takes the selection")
        << QList<VersionWord> { { 8, "" } } << 0 << VersionWord { 9, "" } << QStringList { "9", "8" } << 0;
    QTest::newRow("beta after the selection leaves it")
        << QList<VersionWord> { { 9, "" }, { 7, "" } } << 0 << VersionWord { 8, "beta" }
        << QStringList { "9", "8 Beta", "7" } << 0;
    QTest::newRow("beta before a later selection")
        << QList<VersionWord> { { 9, "" }, { 7, "" } } << 1 << VersionWord { 8, "beta" }
        << QStringList { "9", "8 Beta", "7" } << 2;
}

void TestReleaseModel::versionOrderAndSelection()
{
    QFETCH(QList<VersionWord>, added);
    QFETCH(int, selectBefore);
    QFETCH(VersionWord, last);
    QFETCH(QStringList, order);
    QFETCH(int, selected);

    Release *release = addRelease(QStringLiteral("A"));
    for (const VersionWord &word : added) {
        release->addVersion(
            new ReleaseVersion(release, word.number, ReleaseVersion::statusFromWord(word.status), QDateTime()));
    }
    release->setSelectedVersionIndex(selectBefore);
    QSignalSpy versionsChanged(release, &Release::versionsChanged);
    QSignalSpy selectedChanged(release, &Release::selectedVersionChanged);
    QSignalSpy variantChanged(m_manager, &ReleaseManager::variantChanged);

    auto *version = new ReleaseVersion(release, last.number, ReleaseVersion::statusFromWord(last.status), QDateTime());
    release->addVersion(version);

    QCOMPARE(release->versionNames(), order);
    QCOMPARE(release->selectedVersionIndex(), selected);
    QCOMPARE(release->property("versionIndex").toInt(), selected);
    QCOMPARE(versionsChanged.size(), 1);
    QCOMPARE(selectedChanged.size(), 1);
    QCOMPARE(variantChanged.size(), 1);
    // Versions of equal number stay in the order they came in.
    if (order.count(QString::number(last.number)) > 1)
        QCOMPARE(release->versionList().at(1), version);

    // Out-of-range selections are ignored.
    selectedChanged.clear();
    release->setSelectedVersionIndex(-1);
    release->setSelectedVersionIndex(int(order.size()));
    release->setSelectedVersionIndex(selected);
    QCOMPARE(selectedChanged.size(), 0);
}

void TestReleaseModel::thirdFinalVersion_data()
{
    QTest::addColumn<QList<VersionWord>>("entries");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("two finals and a beta stay")
        << QList<VersionWord> { { 7, "" }, { 8, "" }, { 9, "beta" } } << QStringList { "9 Beta", "8", "7" };
    QTest::newRow("a third final drops the lowest")
        << QList<VersionWord> { { 7, "" }, { 8, "" }, { 9, "" } } << QStringList { "9", "8" };
    QTest::newRow("the lowest goes even when it is the new one")
        << QList<VersionWord> { { 8, "" }, { 9, "" }, { 7, "" } } << QStringList { "9", "8" };
    QTest::newRow("the lowest goes even when it is a beta")
        << QList<VersionWord> { { 6, "beta" }, { 8, "" }, { 9, "" }, { 7, "" } } << QStringList { "9", "8", "7" };
}

void TestReleaseModel::thirdFinalVersion()
{
    QFETCH(QList<VersionWord>, entries);
    QFETCH(QStringList, order);

    Release *release = addRelease(QStringLiteral("A"));
    for (const VersionWord &word : entries)
        addImage(release, word);
    QCOMPARE(release->versionNames(), order);
    // Removed versions go, the others stay.
    CatalogueEnvironment::deleteLaterNow();
    QCOMPARE(release->findChildren<ReleaseVersion *>(Qt::FindDirectChildrenOnly).size(), order.size());
}

void TestReleaseModel::lessFinalEntryRefused()
{
    Release *release = addRelease(QStringLiteral("A"));
    ReleaseVariant *variant = addImage(release, { 8, "" });
    QVERIFY(variant);
    ReleaseVersion *version = variant->releaseVersion();
    QSignalSpy statusChanged(version, &ReleaseVersion::statusChanged);
    QSignalSpy urlChanged(variant, &ReleaseVariant::urlChanged);

    QVERIFY(!version->updateUrl(QStringLiteral("beta"), QStringLiteral("live"), QDateTime(), QStringLiteral("x86_64"),
                                QStringLiteral("https://images.example/beta.iso"), QStringLiteral("abc"), 5));
    QCOMPARE(version->status(), ReleaseVersion::FINAL);
    QCOMPARE(variant->url(), QStringLiteral("https://images.example/8-x86_64.iso"));
    QCOMPARE(variant->size(), 0);
    QCOMPARE(statusChanged.size(), 0);
    QCOMPARE(urlChanged.size(), 0);
}

void TestReleaseModel::preReleaseBecomesFinal()
{
    Release *release = addRelease(QStringLiteral("A"));
    ReleaseVariant *beta = addImage(release, { 9, "beta" });
    QVERIFY(beta);
    QCOMPARE(release->prerelease(), QStringLiteral("9 Beta"));
    ReleaseVersion *version = beta->releaseVersion();
    QSignalSpy statusChanged(version, &ReleaseVersion::statusChanged);
    QSignalSpy prereleaseChanged(release, &Release::prereleaseChanged);
    QSignalSpy dateChanged(version, &ReleaseVersion::releaseDateChanged);
    QSignalSpy variantsChanged(version, &ReleaseVersion::variantsChanged);

    const QDateTime date(QDate(2024, 3, 31), QTime(0, 0), Qt::UTC);
    // A new architecture for the same version adds a variant, selection unchanged.
    QVERIFY(release->updateUrl(9, QString(), QStringLiteral("live"), date, QStringLiteral("aarch64"),
                               QStringLiteral("https://images.example/9-aarch64.iso"), QString(), 0));
    QCOMPARE(version->status(), ReleaseVersion::FINAL);
    QCOMPARE(statusChanged.size(), 1);
    QCOMPARE(prereleaseChanged.size(), 1);
    QCOMPARE(release->prerelease(), QString());
    QCOMPARE(dateChanged.size(), 1);
    QCOMPARE(version->releaseDate(), date);
    QCOMPARE(variantsChanged.size(), 1);
    QCOMPARE(version->variantList().size(), 2);
    QCOMPARE(version->selectedVariant(), beta);

    // The same date again changes nothing; an invalid one never replaces it.
    QVERIFY(!release->updateUrl(9, QString(), QStringLiteral("live"), QDateTime(), QStringLiteral("aarch64"),
                                QStringLiteral("https://images.example/9-aarch64.iso"), QString(), 0));
    QCOMPARE(dateChanged.size(), 1);
}

void TestReleaseModel::variantMerge_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("storedUrl");
    QTest::addColumn<QString>("storedMd5");
    QTest::addColumn<qint64>("storedSize");

    const QString url = QStringLiteral("https://images.example/a.iso");
    const QString md5 = QStringLiteral("0123456789abcdef0123456789abcdef");
    QTest::newRow("nothing") << QString() << "" << qint64(0) << false << url << md5 << qint64(100);
    QTest::newRow("same, padded") << " " + url + "\t" << md5 + " " << qint64(100) << false << url << md5 << qint64(100);
    QTest::newRow("new url") << QStringLiteral("https://images.example/b.iso") << "" << qint64(0) << true
                             << "https://images.example/b.iso" << md5 << qint64(100);
    QTest::newRow("new digest, kept as given")
        << QString() << " FEDCBA" << qint64(0) << true << url << " FEDCBA" << qint64(100);
    QTest::newRow("new size") << QString() << "" << qint64(200) << true << url << md5 << qint64(200);
}

void TestReleaseModel::variantMerge()
{
    QFETCH(QString, url);
    QFETCH(QString, md5);
    QFETCH(qint64, size);
    QFETCH(bool, changed);
    QFETCH(QString, storedUrl);
    QFETCH(QString, storedMd5);
    QFETCH(qint64, storedSize);

    Release *release = addRelease(QStringLiteral("A"));
    auto *version = new ReleaseVersion(release, 8, ReleaseVersion::FINAL, QDateTime());
    auto *variant = new ReleaseVariant(version, QStringLiteral("https://images.example/a.iso"),
                                       QStringLiteral("0123456789abcdef0123456789abcdef"), 100,
                                       ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64), ReleaseVariant::LIVE);
    QSignalSpy urlChanged(variant, &ReleaseVariant::urlChanged);
    QSignalSpy md5Changed(variant, &ReleaseVariant::mdHashChanged);
    QSignalSpy sizeChanged(variant, &ReleaseVariant::sizeChanged);
    QSignalSpy realSizeChanged(variant, &ReleaseVariant::realSizeChanged);

    QCOMPARE(variant->updateUrl(url, md5, size), changed);
    QCOMPARE(variant->url(), storedUrl);
    QCOMPARE(variant->mdHash(), storedMd5);
    QCOMPARE(variant->size(), storedSize);
    QCOMPARE(urlChanged.size(), storedUrl != QLatin1String("https://images.example/a.iso") ? 1 : 0);
    QCOMPARE(md5Changed.size(), storedMd5 != QLatin1String("0123456789abcdef0123456789abcdef") ? 1 : 0);
    QCOMPARE(sizeChanged.size(), storedSize != 100 ? 1 : 0);
    QCOMPARE(realSizeChanged.size(), sizeChanged.size());
}

void TestReleaseModel::removeSelectedVersion()
{
    Release *release = addRelease(QStringLiteral("A"));
    addImage(release, { 9, "" });
    addImage(release, { 8, "" });
    release->setSelectedVersionIndex(1);
    QPointer<ReleaseVersion> eight = release->selectedVersion();
    QSignalSpy selectedChanged(release, &Release::selectedVersionChanged);
    QSignalSpy versionsChanged(release, &Release::versionsChanged);

    release->removeVersion(nullptr);
    release->removeVersion(new ReleaseVersion(release, 3, ReleaseVersion::FINAL, QDateTime()));
    QCOMPARE(versionsChanged.size(), 0);

    release->removeVersion(eight);
    QCOMPARE(release->selectedVersionIndex(), 0);
    QCOMPARE(release->versionNames(), QStringList { "9" });
    QCOMPARE(selectedChanged.size(), 1);
    QCOMPARE(versionsChanged.size(), 1);
    QVERIFY(eight);
    CatalogueEnvironment::deleteLaterNow();
    QVERIFY(!eight);
}

void TestReleaseModel::busyVersionOutlivesRemoval_data()
{
    QTest::addColumn<ReleaseVariant::Status>("busy");
    QTest::addColumn<ReleaseVariant::Status>("idle");
    QTest::addColumn<bool>("local");

    QTest::newRow("downloading, then failed")
        << ReleaseVariant::DOWNLOADING << ReleaseVariant::FAILED_DOWNLOAD << false;
    QTest::newRow("checking the download") << ReleaseVariant::DOWNLOAD_VERIFYING << ReleaseVariant::READY << false;
    QTest::newRow("writing") << ReleaseVariant::WRITING << ReleaseVariant::FAILED << false;
    QTest::newRow("checking the written data") << ReleaseVariant::WRITE_VERIFYING << ReleaseVariant::FINISHED << false;
    QTest::newRow("own file replaced while written") << ReleaseVariant::WRITING << ReleaseVariant::FINISHED << true;
}

void TestReleaseModel::busyVersionOutlivesRemoval()
{
    QFETCH(ReleaseVariant::Status, busy);
    QFETCH(ReleaseVariant::Status, idle);
    QFETCH(bool, local);

    Release *release = local ? m_manager->get(0) : addRelease(QStringLiteral("A"));
    QPointer<ReleaseVariant> variant = local ? m_manager->localFile() : addImage(release, { 7, "" });
    QVERIFY(variant);
    variant->setStatus(busy);

    if (local) {
        m_manager->selectLocalFile(QString());
    } else {
        addImage(release, { 8, "" });
        addImage(release, { 9, "" });
    }
    QVERIFY(!release->versionList().contains(variant->releaseVersion()));

    CatalogueEnvironment::deleteLaterNow();
    QVERIFY2(variant, "a busy image was deleted");
    variant->setStatus(idle);
    CatalogueEnvironment::deleteLaterNow();
    QVERIFY2(!variant, "an idle image removed from its release was kept");
}

void TestReleaseModel::statusSetters()
{
    Release *release = addRelease(QStringLiteral("A"));
    ReleaseVariant *variant = addImage(release, { 8, "" });
    QSignalSpy statusChanged(variant, &ReleaseVariant::statusChanged);
    QSignalSpy errorChanged(variant, &ReleaseVariant::errorStringChanged);

    const QStringList texts = { "Preparing",
                                "Downloading",
                                "Checking the download",
                                "Ready to write",
                                "Image file was saved to your downloads folder. Writing is not possible",
                                "Writing",
                                "Checking the written data",
                                "Finished!",
                                "The written data is corrupted",
                                "Download failed",
                                "Error" };
    for (int status = ReleaseVariant::PREPARING; status <= ReleaseVariant::FAILED; ++status) {
        variant->setStatus(ReleaseVariant::Status(status));
        QCOMPARE(variant->statusString(), texts.at(status));
    }
    QCOMPARE(statusChanged.size(), texts.size() - 1);
    variant->setStatus(ReleaseVariant::FAILED);
    QCOMPARE(statusChanged.size(), texts.size() - 1);

    variant->setErrorString(QStringLiteral("Broken"));
    variant->setErrorString(QStringLiteral("Broken"));
    QCOMPARE(errorChanged.size(), 1);
    QCOMPARE(variant->property("errorString").toString(), QStringLiteral("Broken"));
}

void TestReleaseModel::resetStatus_data()
{
    QTest::addColumn<QString>("iso");
    QTest::addColumn<ReleaseVariant::Status>("before");
    QTest::addColumn<ReleaseVariant::Status>("after");

    QTest::newRow("no image, failed") << "" << ReleaseVariant::FAILED_DOWNLOAD << ReleaseVariant::PREPARING;
    QTest::newRow("no image, already preparing") << "" << ReleaseVariant::PREPARING << ReleaseVariant::PREPARING;
    QTest::newRow("image, finished") << "/tmp/a.iso" << ReleaseVariant::FINISHED << ReleaseVariant::READY;
    QTest::newRow("image, already ready") << "/tmp/a.iso" << ReleaseVariant::READY << ReleaseVariant::READY;
}

void TestReleaseModel::resetStatus()
{
    QFETCH(QString, iso);
    QFETCH(ReleaseVariant::Status, before);
    QFETCH(ReleaseVariant::Status, after);

    Release *release = addRelease(QStringLiteral("A"));
    auto *version = new ReleaseVersion(release, iso, 1000);
    ReleaseVariant *variant = version->variantList().first();
    if (iso.isEmpty()) {
        variant = new ReleaseVariant(version, QStringLiteral("https://images.example/a.iso"), QString(), 1000,
                                     ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64), ReleaseVariant::LIVE);
    }
    variant->progress()->setValue(500);
    variant->setStatus(before);
    variant->setErrorString(QStringLiteral("Broken"));
    QSignalSpy statusChanged(variant, &ReleaseVariant::statusChanged);

    variant->resetStatus();
    QCOMPARE(variant->status(), after);
    QVERIFY(variant->errorString().isEmpty());
    // Always announced, so a page that went elsewhere shows the status again.
    QCOMPARE(statusChanged.size(), before == after ? 1 : 2);
    QCOMPARE(variant->progress()->value(), iso.isEmpty() ? 0.0 : 500.0);
}

void TestReleaseModel::brokenBackend()
{
    Release *release = addRelease(QStringLiteral("A"));
    ReleaseVariant *ready = addImage(release, { 8, "" });
    ReleaseVariant *writing = addImage(release, { 8, "" }, QStringLiteral("aarch64"));
    ready->setStatus(ReleaseVariant::READY);
    writing->setStatus(ReleaseVariant::WRITING);
    QSignalSpy readyChanged(ready, &ReleaseVariant::statusChanged);
    QSignalSpy writingChanged(writing, &ReleaseVariant::statusChanged);

    TestBackend backend;
    backend.broken = true;
    m_manager->setDriveBackend(&backend);
    QCOMPARE(m_manager->driveBackend(), &backend);
    QCOMPARE(readyChanged.size(), 1);
    QCOMPARE(ready->status(), ReleaseVariant::WRITING_NOT_POSSIBLE);
    QCOMPARE(ready->property("status").toInt(), 4);
    QCOMPARE(ready->statusString(),
             QStringLiteral("Image file was saved to your downloads folder. Writing is not possible"));
    QCOMPARE(writing->status(), ReleaseVariant::WRITING);

    backend.broken = false;
    m_manager->onDriveBackendChanged();
    QCOMPARE(readyChanged.size(), 2);
    QCOMPARE(ready->status(), ReleaseVariant::READY);
    QCOMPARE(ready->statusString(), QStringLiteral("Ready to write"));
    QCOMPARE(writingChanged.size(), 0);

    backend.broken = true;
    m_manager->setDriveBackend(nullptr);
    QCOMPARE(ready->status(), ReleaseVariant::READY);
}

void TestReleaseModel::progressRange()
{
    Release *release = addRelease(QStringLiteral("A"));
    auto *version = new ReleaseVersion(release, 8, ReleaseVersion::FINAL, QDateTime());
    auto *variant = new ReleaseVariant(version, QStringLiteral("https://images.example/a.iso"), QString(), 4096,
                                       ReleaseArchitecture::fromId(ReleaseArchitecture::X86_64), ReleaseVariant::LIVE);
    QCOMPARE(variant->progress()->parent(), variant);
    QCOMPARE(variant->progress()->from(), 0.0);
    QCOMPARE(variant->progress()->to(), 4096.0);

    QSignalSpy realSizeChanged(variant, &ReleaseVariant::realSizeChanged);
    QCOMPARE(variant->realSize(), 4096);
    variant->setRealSize(5000);
    variant->setRealSize(5000);
    QCOMPARE(realSizeChanged.size(), 1);
    QCOMPARE(variant->realSize(), 5000);
    QCOMPARE(variant->property("realSize").toDouble(), 5000.0);
    QCOMPARE(variant->property("size").toDouble(), 4096.0);
}

void TestReleaseModel::russianTexts()
{
    // The texts are looked up under the class names: a wrong context shows English.
    const TestLocale::Russian russian;
    QVERIFY(russian.isInstalled());
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    delete m_manager;
    m_manager = new ReleaseManager();

    Release *custom = m_manager->get(0);
    QCOMPARE(custom->name(), QStringLiteral("Свой образ"));
    QCOMPARE(custom->summary(), QStringLiteral("Выберите файл на своём диске"));
    QVERIFY(custom->description().startsWith(QStringLiteral("<p>Здесь можно выбрать образ ОС")));
    ReleaseVariant *variant = m_manager->localFile();
    QCOMPARE(variant->statusString(), QStringLiteral("Подготовка"));
    variant->setStatus(ReleaseVariant::FAILED_DOWNLOAD);
    QCOMPARE(variant->statusString(), QStringLiteral("Ошибка загрузки"));
    QCOMPARE(ReleaseArchitecture::fromId(ReleaseArchitecture::AARCH64)->details(),
             QStringLiteral("Образ для компьютеров AArch64"));
    QCOMPARE(ReleaseArchitecture::listAllDescriptions().last(), QStringLiteral("ARM v7"));
    Release *release = addRelease(QStringLiteral("A"));
    QCOMPARE(release->editionString(), QStringLiteral("Стандартная редакция"));
}

QTEST_GUILESS_MAIN(TestReleaseModel)
#include "tst_releasemodel.moc"
