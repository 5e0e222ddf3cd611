// The catalogue as the pages see it: the filter by line, edition and
// architecture, the selection, the architectures on offer and the user's own
// image, with both item models checked throughout.
#include "catalogueenvironment.h"
#include "filecontents.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QRegularExpression>
#include <QSignalSpy>

using CatalogueEnvironment::entry;

class TestReleaseFilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void filters_data();
    void filters();
    void userChoiceYieldsToX86_64();
    void architectureSelectsImages();
    void setterSignals_data();
    void setterSignals();
    void sameEditionAndSource();
    void selection();
    void roles();
    void localFile_data();
    void localFile();
    void pagesReadTheManager();

private:
    [[nodiscard]] QList<int> shownRows() const;

    QTemporaryDir m_home;
    QTemporaryDir m_files;
    ReleaseManager *m_manager = nullptr;
    QAbstractItemModelTester *m_listTester = nullptr;
    QAbstractItemModelTester *m_proxyTester = nullptr;
};

void TestReleaseFilter::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
    QVERIFY(m_files.isValid());
}

void TestReleaseFilter::init()
{
    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(3600000);
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    m_listTester = new QAbstractItemModelTester(m_manager->releaseList(),
                                                QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_proxyTester = new QAbstractItemModelTester(m_manager, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Rows, after the descending sort: 1-5 zv80-std, 6 zv80-home, 7-8
    // zv80-edu, 9 zv80-arm, 10-11 zv73-std; the first row of each holds its images.
    m_manager->onStringDownloaded(CatalogueEnvironment::feed(
        { entry("zv80-std", "x86_64", "9", "standart"), entry("zv80-std", "x86_64", "10 beta"),
          entry("zv80-std", "aarch64", "9"), entry("zv80-std", "aarch64", "8"), entry("zv80-std", "i686", "8"),
          entry("zv80-home", "x86_64", "8", "home"), entry("zv80-edu", "aarch64", "8", "education"),
          entry("zv80-edu", "i686", "8", "education"), entry("zv80-arm", "armhfp", "8", "standart"),
          entry("zv73-std", "x86_64", "7", "standart", "zv73"), entry("zv73-std", "i386", "7", "standart", "zv73") }));
    QCOMPARE(m_manager->releaseList()->rowCount(), 12);
}

void TestReleaseFilter::cleanup()
{
    delete m_proxyTester;
    delete m_listTester;
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    delete m_manager;
    m_manager = nullptr;
}

QList<int> TestReleaseFilter::shownRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_manager->rowCount(); ++row)
        rows.append(m_manager->mapToSource(m_manager->index(row, 0)).row());
    return rows;
}

void TestReleaseFilter::filters_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("edition");
    QTest::addColumn<int>("architecture");
    QTest::addColumn<QStringList>("available");
    QTest::addColumn<int>("filterArchitecture");
    QTest::addColumn<QList<int>>("rows");

    // The architectures on offer are separated by commas, the rows by spaces.
    const auto row = [](const char *tag, Release::Source source, Release::Edition edition, int architecture,
                        const char *available, int filterArchitecture, const char *rows) {
        QList<int> numbers;
        for (const QString &number : QString::fromLatin1(rows).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            numbers.append(number.toInt());
        QTest::newRow(tag) << int(source) << int(edition) << architecture
                           << QString::fromLatin1(available).split(QLatin1Char(','), Qt::SkipEmptyParts)
                           << filterArchitecture << numbers;
    };
    row("initial", Release::ZV80, Release::STANDART, -1, "x86_64,AArch64,x86,ARM v7", 1, "1");
    row("zv80 standart aarch64", Release::ZV80, Release::STANDART, 0, "x86_64,AArch64,x86,ARM v7", 0, "1");
    row("zv80 standart arm", Release::ZV80, Release::STANDART, 3, "x86_64,AArch64,x86,ARM v7", 3, "9");
    row("education has no x86_64: first listed", Release::ZV80, Release::EDUCATION, -1, "AArch64,x86", 0, "7");
    row("education, x86 chosen", Release::ZV80, Release::EDUCATION, 2, "AArch64,x86", 2, "7");
    row("home", Release::ZV80, Release::HOME, -1, "x86_64", 1, "6");
    row("zv73", Release::ZV73, Release::STANDART, -1, "x86_64,x86", 1, "10");
    row("nothing of that kind", Release::ZV73, Release::CERT, -1, "", 1, "");
    row("own image", Release::LOCAL, Release::NONE, -1, "", 1, "0");
}

void TestReleaseFilter::filters()
{
    QFETCH(int, source);
    QFETCH(int, edition);
    QFETCH(int, architecture);
    QFETCH(QStringList, available);
    QFETCH(int, filterArchitecture);
    QFETCH(QList<int>, rows);

    m_manager->filterEditionAndSource(edition, source);
    if (architecture >= 0)
        m_manager->setFilterArchitecture(architecture);

    QStringList descriptions;
    for (const ReleaseArchitecture *arch : m_manager->availableArchitectures())
        descriptions.append(arch->description());
    QCOMPARE(descriptions, available);
    QCOMPARE(m_manager->filterArchitecture(), filterArchitecture);
    QCOMPARE(shownRows(), rows);

    // What the page shows is what the user gets: the selected image of every
    // shown release has the filter's architecture, from a final version
    // where there is one.
    for (int row : rows) {
        m_manager->setSelectedIndex(row);
        ReleaseVariant *variant = m_manager->variant();
        QVERIFY(variant);
        QCOMPARE(variant->arch()->index(), filterArchitecture);
        if (row == 1)
            QCOMPARE(variant->releaseVersion()->status(), ReleaseVersion::FINAL);
    }
}

void TestReleaseFilter::userChoiceYieldsToX86_64()
{
    m_manager->setFilterArchitecture(2);
    QCOMPARE(m_manager->filterArchitecture(), 2);
    m_manager->setFilterSource(Release::ZV73);
    QCOMPARE(m_manager->filterArchitecture(), 1);
    m_manager->setFilterArchitecture(2);
    m_manager->setFilterEdition(Release::STANDART);
    QCOMPARE(m_manager->filterArchitecture(), 2);
    m_manager->setFilterEdition(Release::HOME);
    QCOMPARE(m_manager->filterArchitecture(), 2);
    m_manager->filterEditionAndSource(Release::STANDART, Release::ZV80);
    QCOMPARE(m_manager->filterArchitecture(), 1);
}

void TestReleaseFilter::architectureSelectsImages()
{
    Release *release = m_manager->get(1);
    QCOMPARE(release->versionNames(), (QStringList { "10 Beta", "9", "8" }));
    m_manager->setSelectedIndex(1);
    QSignalSpy variantChanged(m_manager, &ReleaseManager::variantChanged);

    // Version 9 has aarch64; 10 beta has none and keeps its selection.
    m_manager->setFilterArchitecture(int(ReleaseArchitecture::AARCH64));
    QVERIFY(variantChanged.size() >= 1);
    QCOMPARE(release->selectedVersion()->name(), QStringLiteral("9"));
    QCOMPARE(m_manager->variant()->arch()->id(), ReleaseArchitecture::AARCH64);
    QCOMPARE(release->versionList().at(0)->selectedVariantIndex(), 0);
    QCOMPARE(release->versionList().at(1)->selectedVariantIndex(), 1);

    // Only version 8 has x86.
    m_manager->setFilterArchitecture(int(ReleaseArchitecture::X86));
    QCOMPARE(release->selectedVersion()->name(), QStringLiteral("8"));
    QCOMPARE(m_manager->variant()->arch()->id(), ReleaseArchitecture::X86);
    QCOMPARE(release->versionList().at(1)->selectedVariantIndex(), 1);

    variantChanged.clear();
    m_manager->setFilterArchitecture(4);
    m_manager->setFilterArchitecture(-1);
    QCOMPARE(m_manager->filterArchitecture(), int(ReleaseArchitecture::X86));
    QCOMPARE(variantChanged.size(), 0);
}

void TestReleaseFilter::setterSignals_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QList<QByteArray>>("signalNames");

    const auto row = [](const char *property, const QVariant &value, const char *signalNames) {
        QTest::newRow(property) << QByteArray(property) << value << QByteArray(signalNames).split(' ');
    };
    row("frontPage", false, "frontPageChanged");
    row("filterText", QStringLiteral("zv"), "filterTextChanged");
    row("filterSource", int(Release::ZV73), "filterSourceChanged firstSourceChanged availableArchitecturesChanged");
    row("filterEdition", int(Release::HOME), "filterEditionChanged firstEditionChanged availableArchitecturesChanged");
    row("filterArchitecture", 0, "filterArchitectureChanged variantChanged");
    row("selectedIndex", 3, "selectedChanged variantChanged");
}

void TestReleaseFilter::setterSignals()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);
    QFETCH(QList<QByteArray>, signalNames);

    const QList<QByteArray> all
        = { "frontPageChanged",     "filterTextChanged", "filterArchitectureChanged",    "filterSourceChanged",
            "filterEditionChanged", "selectedChanged",   "firstSourceChanged",           "firstEditionChanged",
            "variantChanged",       "localFileChanged",  "availableArchitecturesChanged" };
    QList<QSignalSpy *> spies;
    for (const QByteArray &name : all) {
        const QMetaMethod method
            = m_manager->metaObject()->method(m_manager->metaObject()->indexOfSignal((name + "()").constData()));
        spies.append(new QSignalSpy(m_manager, method));
    }
    const QList<int> rowsBefore = shownRows();

    QVERIFY(m_manager->setProperty(property.constData(), value));
    QVERIFY(m_manager->setProperty(property.constData(), value));
    for (int i = 0; i < all.size(); ++i) {
        const bool expected = signalNames.contains(all.at(i));
        QVERIFY2(expected ? spies.at(i)->size() >= 1 : spies.at(i)->isEmpty(), all.at(i).constData());
        if (expected && all.at(i) != "variantChanged")
            QCOMPARE(spies.at(i)->size(), 1);
    }
    qDeleteAll(spies);
    QCOMPARE(m_manager->property(property.constData()), value);
    if (property == "frontPage" || property == "filterText" || property == "selectedIndex")
        QCOMPARE(shownRows(), rowsBefore);
}

void TestReleaseFilter::sameEditionAndSource()
{
    // The user's choice of architecture is lost to x86_64 even when nothing else changes.
    m_manager->setFilterArchitecture(0);
    QSignalSpy source(m_manager, &ReleaseManager::filterSourceChanged);
    QSignalSpy edition(m_manager, &ReleaseManager::filterEditionChanged);
    QSignalSpy available(m_manager, &ReleaseManager::availableArchitecturesChanged);
    QSignalSpy architecture(m_manager, &ReleaseManager::filterArchitectureChanged);
    m_manager->filterEditionAndSource(Release::STANDART, Release::ZV80);
    QCOMPARE(source.size(), 0);
    QCOMPARE(edition.size(), 0);
    QCOMPARE(available.size(), 0);
    QCOMPARE(architecture.size(), 1);
    QCOMPARE(m_manager->filterArchitecture(), 1);
}

void TestReleaseFilter::selection()
{
    QCOMPARE(m_manager->selectedIndex(), 0);
    QCOMPARE(m_manager->selected(), m_manager->get(0));
    QCOMPARE(m_manager->variant(), m_manager->localFile());
    QCOMPARE(m_manager->firstSource(), 1);
    m_manager->setFilterSource(Release::ZV73);
    QCOMPARE(m_manager->firstSource(), 10);
    m_manager->setFilterSource(Release::OTHER);
    QCOMPARE(m_manager->firstSource(), 0);
    m_manager->setFilterEdition(Release::EDUCATION);
    QCOMPARE(m_manager->firstEdition(), 7);
    for (int edition = Release::STANDART; edition <= Release::NONE; ++edition)
        QCOMPARE(m_manager->hasEdition(edition), edition != Release::CERT);
    QVERIFY(!m_manager->isWindows());
    QCOMPARE(m_manager->architectures(), ReleaseArchitecture::listAllDescriptions());

    m_manager->setSelectedIndex(99);
    QCOMPARE(m_manager->selected(), nullptr);
    QCOMPARE(m_manager->variant(), nullptr);
    QCOMPARE(m_manager->get(99), nullptr);
    QCOMPARE(m_manager->get(-1), nullptr);
}

void TestReleaseFilter::roles()
{
    ReleaseListModel *list = m_manager->releaseList();
    const QModelIndex first = list->index(1, 0);
    QCOMPARE(list->data(first, Qt::DisplayRole).toString(), QStringLiteral("zv80-std"));
    QCOMPARE(list->data(first, ReleaseListModel::ReleaseRole).value<Release *>(), m_manager->get(1));
    QCOMPARE(list->data(first, ReleaseListModel::SourceIndexRole), QVariant(QStringLiteral("1")));
    QVERIFY(!list->data(first, Qt::ToolTipRole).isValid());
    QVERIFY(!list->data(QModelIndex(), Qt::DisplayRole).isValid());
    QCOMPARE(list->roleNames().value(ReleaseListModel::SourceIndexRole), QByteArray("sourceIndex"));
    QCOMPARE(list->headerData(5, Qt::Vertical, ReleaseListModel::ReleaseRole), QVariant(QStringLiteral("release")));
    QCOMPARE(list->headerData(0, Qt::Horizontal, Qt::DisplayRole), QVariant(QStringLiteral("name")));
    QVERIFY(!list->headerData(0, Qt::Horizontal, Qt::EditRole).isValid());
    QCOMPARE(list->rowCount(first), 0);
    QCOMPARE(m_manager->roleNames(), list->roleNames());
}

void TestReleaseFilter::localFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("file url") << "file://%1/disk.iso" << true;
    QTest::newRow("nothing chosen yet") << "" << true;
    QTest::newRow("plain path") << "%1/disk.iso" << false;
    QTest::newRow("missing file") << "file://%1/missing.iso" << false;
    QTest::newRow("folder") << "file://%1" << false;
}

void TestReleaseFilter::localFile()
{
    QFETCH(QString, path);
    QFETCH(bool, accepted);

    QVERIFY(FileContents::write(m_files.filePath(QStringLiteral("disk.iso")), QByteArray(3000, 'x')));
    QVERIFY(FileContents::write(m_files.filePath(QStringLiteral("first.iso")), QByteArray(10, 'y')));
    m_manager->selectLocalFile(QUrl::fromLocalFile(m_files.filePath(QStringLiteral("first.iso"))).toString());
    m_manager->setSelectedIndex(3);
    const QPointer<ReleaseVariant> before = m_manager->localFile();
    QSignalSpy localFileChanged(m_manager, &ReleaseManager::localFileChanged);
    QSignalSpy variantChanged(m_manager, &ReleaseManager::variantChanged);

    const QString text = path.contains(QLatin1String("%1")) ? path.arg(m_files.path()) : path;
    if (!accepted)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("doesn't exist")));
    m_manager->selectLocalFile(text);

    // Chosen or not, the own-image entry becomes the selection.
    QCOMPARE(m_manager->selectedIndex(), 0);
    QCOMPARE(localFileChanged.size(), 1);
    QVERIFY(variantChanged.size() >= 1);
    ReleaseVariant *variant = m_manager->localFile();
    QCOMPARE(m_manager->variant(), variant);
    QCOMPARE(m_manager->get(0)->versionList().size(), 1);
    QCOMPARE(variant->status(), ReleaseVariant::READY);
    if (!accepted) {
        QCOMPARE(variant, before.data());
        QCOMPARE(variant->iso(), m_files.filePath(QStringLiteral("first.iso")));
        return;
    }
    QVERIFY(variant != before);
    const QString iso = text.isEmpty() ? QString() : m_files.filePath(QStringLiteral("disk.iso"));
    QCOMPARE(variant->iso(), iso);
    QCOMPARE(variant->size(), iso.isEmpty() ? 0 : 3000);
    QCOMPARE(variant->fullName(), iso.isEmpty() ? QString() : QStringLiteral("disk.iso"));
    CatalogueEnvironment::deleteLaterNow();
    QVERIFY(!before);
    if (iso.isEmpty())
        return;
    // A chosen file needs no download.
    variant->download();
    QCOMPARE(variant->status(), ReleaseVariant::READY);
}

void TestReleaseFilter::pagesReadTheManager()
{
    // The pages reach the catalogue through these names only.
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("releases"), m_manager);
    const auto evaluate = [&engine](const char *expression) {
        QQmlExpression qml(engine.rootContext(), nullptr, QString::fromLatin1(expression));
        const QVariant value = qml.evaluate();
        return qml.hasError() ? QStringLiteral("error: ") + qml.error().toString() : value.toString();
    };
    QCOMPARE(evaluate("releases.availableArchitectures.length"), QStringLiteral("4"));
    QCOMPARE(evaluate("releases.availableArchitectures[1].description"), QStringLiteral("AArch64"));
    QCOMPARE(evaluate("releases.availableArchitectures[0].id"), QStringLiteral("1"));
    QCOMPARE(evaluate("releases.get(1).versions.length"), QStringLiteral("3"));
    QCOMPARE(evaluate("releases.get(1).version.variant.arch.details"),
             QStringLiteral("Image for Intel, AMD and other compatible PCs (64-bit)"));
    QCOMPARE(evaluate("releases.selectedIndex = 1, releases.variant.name"), QStringLiteral("x86_64"));
    QCOMPARE(evaluate("releases.variant.progress.to"), QStringLiteral("0"));
    QCOMPARE(evaluate("releases.localFile.statusString"), QStringLiteral("Preparing"));
    QCOMPARE(evaluate("releases.isReady"), QStringLiteral("true"));

    // The enumerations by name, from the module the manager registers; the
    // types themselves cannot be made by a page.
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport Flashwright 1.0\nQtObject {\n"
                      "property var values: [Variant.WRITING_NOT_POSSIBLE, Release.ZV73, Release.EDUCATION,\n"
                      "Version.BETA, Architecture.ARM, Variant.ATOMIC]\n}",
                      QUrl());
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("values").toList(), (QVariantList { 4, 1, 3, 2, 3, 3 }));
    QQmlComponent variant(&engine);
    variant.setData("import Flashwright 1.0\nVariant {}", QUrl());
    QVERIFY(variant.isError());
}

QTEST_GUILESS_MAIN(TestReleaseFilter)
#include "tst_releasefilter.moc"
