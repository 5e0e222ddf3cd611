#include "appinfo.h"
#include "installlayout.h"
#include "programrun.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The Debian package as scripts/build-deb.sh makes it: its fields, its
// dependencies, its files, lintian's verdict, and programs that run.
class TestPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fields_data();
    void fields();
    void dependencies_data();
    void dependencies();
    void contents();
    void lintianFindsNoError();
    void packagedHelperRuns();

private:
    static QByteArray run(const QString &program, const QStringList &arguments, int *status = nullptr,
                          int timeout = 120000);

    QString m_folder;
    QString m_deb;
    QStringList m_dependencies;
};

QByteArray TestPackage::run(const QString &program, const QStringList &arguments, int *status, int timeout)
{
    const ProgramResult result = ProgramRun(program, arguments).timeout(timeout).run();
    if (status)
        *status = result.status();
    return result.standardOutput + result.standardError;
}

void TestPackage::initTestCase()
{
    for (const char *tool : { "dpkg-buildpackage", "dh", "lintian" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (dpkg-dev, debhelper, lintian)").arg(tool)));
    }
    m_folder = QStringLiteral(FLASHWRIGHT_BUILD_DIR "/package-test");
    int status = -1;
    const QByteArray output
        = run(QStringLiteral("bash"), { QStringLiteral(FLASHWRIGHT_SOURCE_DIR "/scripts/build-deb.sh"), m_folder },
              &status, 30 * 60 * 1000);
    QVERIFY2(status == 0, output.constData());
    const QStringList debs = QDir(m_folder).entryList({ QStringLiteral("flashwright_*.deb") }, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(m_folder).filePath(debs.constFirst());

    const QString depends = QString::fromUtf8(
        run(QStringLiteral("dpkg-deb"), { QStringLiteral("-f"), m_deb, QStringLiteral("Depends") }).trimmed());
    for (const QString &alternatives : depends.split(QLatin1Char(','), Qt::SkipEmptyParts))
        m_dependencies << alternatives.trimmed().section(QLatin1Char(' '), 0, 0);
}

void TestPackage::fields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("expected");

    QTest::newRow("Package") << QStringLiteral("Package") << QStringLiteral("flashwright");
    // The package and the program tell the same version.
    QTest::newRow("Version") << QStringLiteral("Version") << AppInfo::version;
    QTest::newRow("Architecture")
        << QStringLiteral("Architecture")
        << QString::fromUtf8(run(QStringLiteral("dpkg"), { QStringLiteral("--print-architecture") }).trimmed());
    QTest::newRow("Section") << QStringLiteral("Section") << QStringLiteral("utils");
}

void TestPackage::fields()
{
    QFETCH(QString, field);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromUtf8(run(QStringLiteral("dpkg-deb"), { QStringLiteral("-f"), m_deb, field }).trimmed()),
             expected);
}

void TestPackage::dependencies_data()
{
    QTest::addColumn<QString>("package");

    // What the helper calls and what restoring a drive needs.
    QTest::newRow("udisks2") << QStringLiteral("udisks2");
    QTest::newRow("exfatprogs") << QStringLiteral("exfatprogs");
    // Found by dpkg-shlibdeps in the binaries.
    QTest::newRow("libc6") << QStringLiteral("libc6");
    QTest::newRow("libqt6core6") << QStringLiteral("libqt6core6");
    QTest::newRow("libqt6dbus6") << QStringLiteral("libqt6dbus6");
    QTest::newRow("liblzma5") << QStringLiteral("liblzma5");
    QTest::newRow("libxxhash0") << QStringLiteral("libxxhash0");
    // Loaded at run time, which no linker sees: the SVG images and the
    // Qt Quick modules of the pages.
    QTest::newRow("libqt6svg6") << QStringLiteral("libqt6svg6");
    QTest::newRow("qml6-module-qtquick-controls") << QStringLiteral("qml6-module-qtquick-controls");
    // Qt's own file dialog, which the local-file page opens where there is no
    // desktop portal, cannot load without it (and the program crashes).
    QTest::newRow("qml6-module-qt-labs-folderlistmodel") << QStringLiteral("qml6-module-qt-labs-folderlistmodel");
}

void TestPackage::dependencies()
{
    QFETCH(QString, package);
    QVERIFY2(m_dependencies.contains(package), qPrintable(m_dependencies.join(QLatin1String(", "))));
}

void TestPackage::contents()
{
    // "-rwxr-xr-x root/root 404472 2026-12-09 12:00 ./usr/bin/flashwright"
    const QString listing = QString::fromUtf8(run(QStringLiteral("dpkg-deb"), { QStringLiteral("-c"), m_deb }));
    QHash<QString, QString> modes;
    static const QRegularExpression entry(QStringLiteral("^(\\S+)\\s+\\S+\\s+\\d+\\s+\\S+\\s+\\S+\\s+\\./(\\S*)$"),
                                          QRegularExpression::MultilineOption);
    for (auto it = entry.globalMatch(listing); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        modes.insert(match.captured(2), match.captured(1));
    }
    QVERIFY2(!modes.isEmpty(), qPrintable(listing));

    for (const InstallLayout::File &file : InstallLayout::files(QStringLiteral("share/man/man1/flashwright.1.gz"))) {
        const QString path = QStringLiteral("usr/") + file.path;
        QVERIFY2(modes.contains(path), qPrintable(path + QLatin1Char('\n') + listing));
        QCOMPARE(modes.value(path), file.executable ? QStringLiteral("-rwxr-xr-x") : QStringLiteral("-rw-r--r--"));
    }
    QVERIFY(modes.contains(QStringLiteral("usr/share/doc/flashwright/copyright")));
    for (auto it = modes.cbegin(); it != modes.cend(); ++it) {
        QVERIFY2(!it.key().startsWith(QLatin1String("usr/local/")), qPrintable(it.key()));
        if (it.key().startsWith(QLatin1String("usr/bin/")) && !it.key().endsWith(QLatin1Char('/')))
            QCOMPARE(it.key(), QStringLiteral("usr/bin/flashwright"));
    }
}

void TestPackage::lintianFindsNoError()
{
    // build-deb.sh has lintian fail on errors; its report is kept beside the package.
    QFile report(QDir(m_folder).filePath(QStringLiteral("lintian.txt")));
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    for (const QByteArray &line : text.split('\n'))
        QVERIFY2(!line.startsWith("E: "), text.constData());
}

void TestPackage::packagedHelperRuns()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    int status = -1;
    QByteArray output = run(QStringLiteral("dpkg-deb"), { QStringLiteral("-x"), m_deb, root.path() }, &status);
    QVERIFY2(status == 0, output.constData());
    output
        = run(root.filePath(QStringLiteral("usr/libexec/flashwright/helper")), { QStringLiteral("nonsense") }, &status);
    QCOMPARE(status, 1);
    QCOMPARE(output, QByteArray("Helper: Wrong arguments entered"));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
