#include "privatebus.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// Starts the real program on the offscreen platform and ends it with SIGTERM
// once it has reached the event loop, as a desktop session would.
class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startsUp_data();
    void startsUp();
    void fatalStartSaysWhy_data();
    void fatalStartSaysWhy();

private:
    QProcessEnvironment environment(const QString &locale) const;

    PrivateBus m_bus { PrivateBus::Session };
    QTemporaryDir m_home;
    quint16 m_closedPort = 0;
};

void TestProgram::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_home.isValid());
    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("runtime")));
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    m_closedPort = probe.serverPort();
    // A bus of our own, so that no desktop portal of the machine is found.
    if (!m_bus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + m_bus.errorString()));
}

QProcessEnvironment TestProgram::environment(const QString &locale) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.remove(QStringLiteral("LC_MESSAGES"));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("LANG"), locale);
    // The catalogue is fetched at start, from the maker's server unless a
    // row names another feed: a proxy address where nobody listens keeps
    // that fetch, and its name lookup, on this machine.
    const QString nowhere = QStringLiteral("http://127.0.0.1:%1").arg(m_closedPort);
    environment.insert(QStringLiteral("http_proxy"), nowhere);
    environment.insert(QStringLiteral("https_proxy"), nowhere);
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    return environment;
}

void TestProgram::startsUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("usageLines");
    QTest::addColumn<bool>("localized");

    QTest::newRow("-v, English") << QStringList { QStringLiteral("-v") } << QStringLiteral("en_US.UTF-8") << 0 << false;
    QTest::newRow("--verbose, German") << QStringList { QStringLiteral("--verbose") } << QStringLiteral("de_DE.UTF-8")
                                       << 0 << false;
    QTest::newRow("--help, Russian") << QStringList { QStringLiteral("--help"), QStringLiteral("-v") }
                                     << QStringLiteral("ru_RU.UTF-8") << 1 << true;
    QTest::newRow("usage twice, plain ru")
        << QStringList { QStringLiteral("-v"), QStringLiteral("--help"), QStringLiteral("--releasesUrl") }
        << QStringLiteral("ru") << 2 << true;
}

void TestProgram::startsUp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, locale);
    QFETCH(int, usageLines);
    QFETCH(bool, localized);

    QProcess program;
    program.setProcessEnvironment(environment(locale));
    program.start(QStringLiteral(FLASHWRIGHT_PROGRAM), arguments);
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));

    QByteArray errors;
    const bool running = QTest::qWaitFor(
        [&] {
            errors += program.readAllStandardError();
            return errors.contains("debug: Starting the application\n") || program.state() == QProcess::NotRunning;
        },
        60000);
    QVERIFY2(running && program.state() == QProcess::Running, errors.constData());

    program.terminate();
    QVERIFY(program.waitForFinished());
    errors += program.readAllStandardError();
    const QByteArray output = program.readAllStandardOutput();

    QCOMPARE(output,
             QByteArray("flashwright [--testing] [--no-user-agent] [--releasesUrl <url>]\n").repeated(usageLines));

    const QList<QByteArray> lines = errors.split('\n');
    qsizetype last = -1;
    for (const QByteArray &expected :
         { QByteArray("debug: Application constructed"), QByteArray("debug: Injecting QML context properties"),
           QByteArray("debug: ReleaseManager construction"),
           QByteArray("debug: Loading the QML source code"), QByteArray("debug: Starting the application") }) {
        const qsizetype at = lines.indexOf(expected);
        QVERIFY2(at > last,
                 qPrintable(QStringLiteral("missing or out of order: %1\n%2")
                                .arg(QString::fromLatin1(expected), QString::fromLocal8Bit(errors))));
        last = at;
    }
    QCOMPARE(errors.contains("debug: Localization  QLocale(Russian"), localized);
    // Qt's own texts in the same language (qt6-translations-l10n), and only then.
    for (const char *catalogue : { "/qtbase_ru.qm\"", "/qtdeclarative_ru.qm\"" })
        QVERIFY2(errors.contains(catalogue) == localized, errors.constData());
    QVERIFY2(!errors.contains("main.qml"), errors.constData());
}

void TestProgram::fatalStartSaysWhy_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("quiet") << QStringList();
    // The failure comes before the command line is read, so -v cannot apply yet.
    QTest::newRow("verbose") << QStringList { QStringLiteral("-v") };
}

void TestProgram::fatalStartSaysWhy()
{
    QFETCH(QStringList, arguments);

    // Without a usable platform plug-in Qt gives up with a fatal message: the
    // person who started the program gets that message and nothing else.
    QProcessEnvironment broken = environment(QStringLiteral("en_US.UTF-8"));
    broken.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("nosuchplatform"));
    QProcess program;
    program.setProcessEnvironment(broken);
    program.start(QStringLiteral(FLASHWRIGHT_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    const QByteArray errors = program.readAllStandardError();
    QVERIFY2(errors.startsWith("fatal: This application failed to start because no Qt platform plugin could be "
                               "initialized."),
             errors.constData());
    QVERIFY2(errors.endsWith('\n') && !errors.contains("\nwarning: ") && !errors.contains("\ndebug: "),
             errors.constData());
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
