#include "appinfo.h"
#include "fakeudisks2.h"
#include "filecontents.h"
#include "installlayout.h"
#include "installpaths.h"
#include "privatebus.h"
#include "programrun.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// `cmake --install` of the real build into temporary folders: the layout a
// distribution's application has, files that the desktop's own checkers
// accept, and installed programs that start.
class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void layout_data();
    void layout();
    void helperOnlyInLibexec();
    void icons();
    void desktopFiles_data();
    void desktopFiles();
    void desktopFilesAgree();
    void helperAtConfiguredFolder();
    void writeThroughInstalledHelper();
    void installedProgramsStart();

private:
    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }
    // Runs a program to its end; its exit code, or -1 when it did not end normally.
    static int run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    QTemporaryDir m_prefix;
    // The DESTDIR installation into the configured prefix.
    QTemporaryDir m_staging;
};

int TestInstall::run(const QString &program, const QStringList &arguments, QByteArray *output,
                     const QProcessEnvironment &environment)
{
    const ProgramResult result = ProgramRun(program, arguments).environment(environment).mergeChannels().run();
    if (output)
        *output = result.standardOutput;
    return result.status();
}

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QByteArray output;
    const int status = run(QStringLiteral(FLASHWRIGHT_CMAKE),
                           { QStringLiteral("--install"), QStringLiteral(FLASHWRIGHT_BUILD_DIR),
                             QStringLiteral("--prefix"), m_prefix.path(), QStringLiteral("--strip") },
                           &output);
    QVERIFY2(status == 0, output.constData());
}

void TestInstall::layout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    for (const InstallLayout::File &file : InstallLayout::files())
        QTest::newRow(qPrintable(file.path)) << file.path << file.executable;
}

void TestInstall::layout()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);

    const QFileInfo file(installed(path));
    QVERIFY2(file.isFile(), qPrintable(path));
    QCOMPARE(file.isExecutable(), executable);
    QVERIFY(file.size() > 0);
}

void TestInstall::helperOnlyInLibexec()
{
    // The helper is no command for people: nothing of it may land on PATH.
    QCOMPARE(QDir(installed(QStringLiteral("bin"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("flashwright") });
    QStringList helpers;
    QDirIterator it(m_prefix.path(), { QStringLiteral("helper*") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        helpers << QDir(m_prefix.path()).relativeFilePath(it.next());
    QCOMPARE(helpers, QStringList { QStringLiteral("libexec/flashwright/helper") });
}

void TestInstall::icons()
{
    // Each theme size holds a picture of that size; a mixed-up copy would
    // show blurred or cropped in menus and docks.
    for (int size : InstallLayout::iconSizes()) {
        const QImage icon(
            installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppInfo::applicationId)),
            "PNG");
        QVERIFY2(!icon.isNull(), qPrintable(QString::number(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
    }
}

void TestInstall::desktopFiles_data()
{
    QTest::addColumn<QString>("checker");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");

    QTest::newRow("desktop-file-validate")
        << QStringLiteral("desktop-file-validate") << QStringList()
        << QStringLiteral("share/applications/%1.desktop").arg(AppInfo::applicationId);
    QTest::newRow("appstreamcli") << QStringLiteral("appstreamcli")
                                  << QStringList { QStringLiteral("validate"), QStringLiteral("--no-net") }
                                  << QStringLiteral("share/metainfo/%1.metainfo.xml").arg(AppInfo::applicationId);
}

void TestInstall::desktopFiles()
{
    QFETCH(QString, checker);
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);

    const QString program = QStandardPaths::findExecutable(checker);
    if (program.isEmpty())
        QSKIP(qPrintable(checker + QStringLiteral(" is not installed (desktop-file-utils, appstream)")));
    QByteArray output;
    const int status = run(program, arguments << installed(path), &output);
    QVERIFY2(status == 0, output.constData());
    // Both report problems as "error" and "warning" lines, or "E:" and "W:".
    for (const QByteArray &line : output.split('\n')) {
        QVERIFY2(!line.contains("error") && !line.contains("warning") && !line.startsWith("E:")
                     && !line.startsWith("W:"),
                 output.constData());
    }
}

void TestInstall::desktopFilesAgree()
{
    const QString id = AppInfo::applicationId;
    QSettings desktop(installed(QStringLiteral("share/applications/%1.desktop").arg(id)), QSettings::IniFormat);
    desktop.beginGroup(QStringLiteral("Desktop Entry"));
    // The window names this file (Wayland's app id, the notification icon),
    // so the file, its icon and the theme's icons must all carry the id.
    QCOMPARE(desktop.value(QStringLiteral("Icon")).toString(), id);
    const QString exec = desktop.value(QStringLiteral("Exec")).toString().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(QFileInfo(installed(QStringLiteral("bin/") + exec)).isExecutable(), qPrintable(exec));

    QFile metainfo(installed(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(id)));
    QVERIFY(metainfo.open(QIODevice::ReadOnly));
    const QByteArray xml = metainfo.readAll();
    QVERIFY(xml.contains(QStringLiteral("<id>%1</id>").arg(id).toUtf8()));
    QVERIFY(xml.contains(QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(id).toUtf8()));
    QVERIFY(xml.contains(QStringLiteral("<release version=\"%1\"").arg(AppInfo::version).toUtf8()));
    QFile manual(installed(QStringLiteral("share/man/man1/flashwright.1")));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    QVERIFY(manual.readLine().contains(QStringLiteral("\"Flashwright %1\"").arg(AppInfo::version).toUtf8()));
}

void TestInstall::helperAtConfiguredFolder()
{
    // The program is built to look for its helper in FLASHWRIGHT_LIBEXECDIR;
    // an installation into the configured prefix must put it exactly there.
    const QString folder = QStringLiteral(FLASHWRIGHT_LIBEXECDIR);
    QVERIFY2(QDir::isAbsolutePath(folder) && folder.endsWith(QLatin1String("/flashwright")), qPrintable(folder));

    QVERIFY(m_staging.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), m_staging.path());
    QByteArray output;
    const int status
        = run(QStringLiteral(FLASHWRIGHT_CMAKE),
              { QStringLiteral("--install"), QStringLiteral(FLASHWRIGHT_BUILD_DIR), QStringLiteral("--strip") },
              &output, environment);
    QVERIFY2(status == 0, output.constData());
    QVERIFY2(QFileInfo(m_staging.path() + folder + QStringLiteral("/helper")).isExecutable(), output.constData());
}

// The DESTDIR installation, seen where it was configured to live: inside a
// mount namespace of its own the staged folder is bound over the real one,
// and a LinuxDrive there (in a program with no helper beside it) must find
// the installed helper by the configured folder and write through it to the
// file that the fake UDisks2 hands out as the device.
void TestInstall::writeThroughInstalledHelper()
{
    const QString folder = QStringLiteral(FLASHWRIGHT_LIBEXECDIR);
    const QString helper = folder + QStringLiteral("/helper");
    if (!QFileInfo::exists(m_staging.path() + helper))
        QSKIP("the DESTDIR installation is missing (helperAtConfiguredFolder failed)");
    if (QFileInfo::exists(QStringLiteral("/usr/libexec/flashwright/helper"))
        && helper != QLatin1String("/usr/libexec/flashwright/helper"))
        QSKIP("a helper installed in /usr/libexec/flashwright comes first in the search");
    if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        QSKIP("binding the installation over its configured folder needs root and unshare (util-linux)");
    // Bound over the deepest folder that exists, so as little as possible
    // of the machine is hidden from the writer; never over / or /usr.
    QString mountPoint = folder;
    while (!QFileInfo(mountPoint).isDir())
        mountPoint = QFileInfo(mountPoint).path();
    if (mountPoint == QLatin1String("/") || mountPoint == QLatin1String("/usr"))
        QSKIP(qPrintable(QStringLiteral("the configured folder %1 would hide %2").arg(folder, mountPoint)));

    QString why;
    if (!FakeUDisks2::isAvailable(&why))
        QSKIP(qPrintable(why));
    PrivateBus systemBus(PrivateBus::System);
    if (!systemBus.start())
        QSKIP(qPrintable(QStringLiteral("no private system bus: ") + systemBus.errorString()));
    if (!PrivateBus::isSystemBusPrivate(&why))
        QFAIL(qPrintable(QStringLiteral("refusing to run: ") + why));

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QByteArray imageData(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    QRandomGenerator(10).fillRange(reinterpret_cast<quint32 *>(imageData.data()), imageData.size() / 4);
    const QString imagePath = scratch.filePath(QStringLiteral("installed.img"));
    const QString devicePath = scratch.filePath(QStringLiteral("device"));
    QVERIFY(FileContents::write(imagePath, imageData));
    QVERIFY(FileContents::write(devicePath, QByteArray(4 * 1024 * 1024, '\x55')));
    using namespace UdisksObjects;
    QJsonObject sdb = disk(QStringLiteral("stick"));
    sdb.insert(QStringLiteral("open"), openFile(devicePath));
    DriveObject stick;
    stick.size = 4194304;
    Layout layout;
    layout.add(QStringLiteral("stick"), stick).add(QStringLiteral("sdb"), sdb);
    FakeUDisks2 fake;
    QVERIFY2(fake.start(layout.json()), qPrintable(fake.errorString()));

    const QString block = FakeUDisks2::blockPath(QStringLiteral("sdb"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus.address());
    // Notifications go nowhere at once instead of to a desktop.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QByteArray output;
    const int status = run(QStringLiteral("unshare"),
                           { QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                             QStringLiteral("--"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                             QStringLiteral("mount --bind \"$1\" \"$2\" && exec \"$3\" \"$4\" \"$5\""),
                             QStringLiteral("sh"), m_staging.path() + mountPoint, mountPoint,
                             QStringLiteral(FLASHWRIGHT_INSTALL_WRITER), imagePath, block },
                           &output, environment);
    QVERIFY2(status == 0, output.constData());
    QVERIFY2(output.contains("helper: " + helper.toUtf8() + '\n'), output.constData());
    QVERIFY2(output.contains("status: FINISHED\nerror: \n"), output.constData());
    QCOMPARE(fake.callObjects(QStringLiteral("OpenDevice")), QStringList { block });

    QFile device(devicePath);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const QByteArray written = device.readAll();
    QCOMPARE(written.size(), 4 * 1024 * 1024);
    QVERIFY2(written.startsWith(imageData), "the device holds the image");
    // The last block is filled up with zeros, what lay beyond stays.
    const qsizetype padded = (imageData.size() + 511) / 512 * 512;
    QCOMPARE(written.mid(imageData.size(), padded - imageData.size()), QByteArray(padded - imageData.size(), '\0'));
    QCOMPARE(written.mid(padded), QByteArray(written.size() - padded, '\x55'));
}

void TestInstall::installedProgramsStart()
{
    // The installed helper runs (its libraries are found) and refuses a wrong command line.
    QByteArray output;
    QCOMPARE(run(installed(QStringLiteral("libexec/flashwright/helper")), { QStringLiteral("nonsense") }, &output), 1);
    QCOMPARE(output, QByteArray("Helper: Wrong arguments entered"));

    // The installed program comes up to its event loop with all its resources.
    PrivateBus bus(PrivateBus::Session);
    if (!bus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + bus.errorString()));
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    // The catalogue fetch at start goes to a feed on a closed loopback port.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(installed(QStringLiteral("bin/flashwright")),
                  { QStringLiteral("--help"), QStringLiteral("-v"), QStringLiteral("--releasesUrl"),
                    QStringLiteral("http://127.0.0.1:9/feed.json") });
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));
    QByteArray errors;
    const bool started = QTest::qWaitFor(
        [&] {
            errors += program.readAllStandardError();
            return errors.contains("debug: Starting the application\n") || program.state() == QProcess::NotRunning;
        },
        60000);
    QVERIFY2(started && program.state() == QProcess::Running, errors.constData());
    program.terminate();
    QVERIFY(program.waitForFinished());
    QCOMPARE(program.readAllStandardOutput(),
             QByteArray("flashwright [--testing] [--no-user-agent] [--releasesUrl <url>]\n"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
