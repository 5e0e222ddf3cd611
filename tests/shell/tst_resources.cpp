#include "testlocale.h"

#include <QFile>
#include <QImage>
#include <QLocale>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTest>
#include <QTranslator>

// The program's four resource bundles, linked in as the program links them.
class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bundles();
    void images_data();
    void images();
    void catalogue_data();
    void catalogue();
    void documents_data();
    void documents();
};

void TestResources::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    TestLocale::pinEnglish();
}

void TestResources::bundles()
{
    // Links only when the bundles carry exactly these names; each then
    // holds a file of its own.
    Q_INIT_RESOURCE(assets);
    Q_INIT_RESOURCE(qml);
    Q_INIT_RESOURCE(translations);
    Q_INIT_RESOURCE(linuxicon);
    QVERIFY(QFile::exists(QStringLiteral(":/logos/warning")));
    QVERIFY(QFile::exists(QStringLiteral(":/appicon/48.png")));
    QVERIFY(QFile::exists(QStringLiteral(":/qml/main.qml")));
    QVERIFY(QFile::exists(QStringLiteral(":/qml/MainPage.qml")));
    QVERIFY(QFile::exists(QStringLiteral(":/translations/ru.qm")));
}

void TestResources::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("pngSize"); // 0: an SVG drawing

    for (const char *name : { "checkbox", "checkboxLight", "chooseImage", "chooseImageLight", "downloadImage",
                              "downloadImageLight", "goBackButton", "goBackButtonLight", "goDownButton",
                              "goDownButtonLight", "restoreImage", "restoreImageLight", "warning" })
        QTest::newRow(name) << QStringLiteral(":/logos/%1").arg(QLatin1String(name)) << 0;
    QTest::newRow("mainPageImage") << QStringLiteral(":/mainPageImage") << 0;
    QTest::newRow("mainPageImageDark") << QStringLiteral(":/mainPageImageDark") << 0;
    QTest::newRow("folder") << QStringLiteral(":/logos/folder") << 48;
    QTest::newRow("folder64") << QStringLiteral(":/logos/folder64") << 64;
    QTest::newRow("placeholder") << QStringLiteral(":/logos/placeholder") << 48;
    QTest::newRow("placeholder64") << QStringLiteral(":/logos/placeholder64") << 64;
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        QTest::newRow(qPrintable(QStringLiteral("appicon %1").arg(size)))
            << QStringLiteral(":/appicon/%1.png").arg(size) << size;
}

void TestResources::images()
{
    QFETCH(QString, path);
    QFETCH(int, pngSize);

    QVERIFY(QFile::exists(path));
    if (pngSize == 0) {
        QSvgRenderer renderer(path);
        QVERIFY(renderer.isValid());
        QVERIFY(!renderer.defaultSize().isEmpty());
        return;
    }
    QImage image;
    QVERIFY(image.load(path, "PNG"));
    QCOMPARE(image.size(), QSize(pngSize, pngSize));
    // Round icons: transparent corners, an opaque centre.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(pngSize / 2, pngSize / 2)), 255);
}

void TestResources::catalogue_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("loads");

    QTest::newRow("ru_RU") << QLocale(QStringLiteral("ru_RU")) << true;
    QTest::newRow("ru") << QLocale(QStringLiteral("ru")) << true;
    QTest::newRow("ru_UA") << QLocale(QStringLiteral("ru_UA")) << true;
    QTest::newRow("de_DE") << QLocale(QStringLiteral("de_DE")) << false;
    QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << false;
}

void TestResources::catalogue()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, loads);

    QTranslator translator;
    QCOMPARE(translator.load(locale, QString(), QString(), QStringLiteral(":/translations")), loads);
    if (!loads)
        return;
    QCOMPARE(translator.translate("PortalFileDialog", "Open File"), QStringLiteral("Открыть файл"));
    QCOMPARE(translator.translate("Download", "Connection timed out"),
             QStringLiteral("Время ожидания соединения истекло"));
    QCOMPARE(translator.translate("MainPage", "Select from device"), QStringLiteral("Выбрать файл с устройства"));
}

void TestResources::documents_data()
{
    QTest::addColumn<QString>("document");
    const QStringList documents = QStringLiteral(FLASHWRIGHT_QML_DOCUMENTS).split(QLatin1Char(','));
    QVERIFY(documents.contains(QStringLiteral("main.qml")));
    for (const QString &document : documents)
        QTest::newRow(qPrintable(document)) << document;
}

// Every document in the bundle compiles, with every type it names found:
// the program loads them by these paths.
void TestResources::documents()
{
    QFETCH(QString, document);

    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qml/") + document));
    QVERIFY2(component.isReady(), qPrintable(component.errorString()));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
