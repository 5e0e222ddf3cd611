// The window as a screen reader meets it: the real program under Xvfb with
// the simulated drives (--testing) and the sample catalogue (served by nginx,
// so that its images can be downloaded), Qt's AT-SPI bridge switched on, and
// the accessibility bus of at-spi2-core on a private session bus. Through
// AT-SPI alone, without keys or mouse, screenreader.py finds every control
// of every page with its role, name and action, goes the whole way from the
// catalogue to a written drive and back to a restored one, and reads the
// texts that matter. In English and in Russian.
#include "nginxserver.h"
#include "privatebus.h"
#include "programlog.h"
#include "programsession.h"
#include "pythonservice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString busLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");

} // namespace

class TestScreenReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void wholeRoad_data();
    void wholeRoad();

private:
    PrivateBus m_sessionBus { PrivateBus::Session };
    NginxServer m_nginx;
    QProcess m_launcher;
    QTemporaryDir m_runtime;
    QString m_address;
};

void TestScreenReader::initTestCase()
{
    QString why = ProgramSession::unavailableReason();
    if (why.isEmpty() && !QFileInfo(busLauncher).isExecutable())
        why = QStringLiteral("at-spi2-core is not installed (scripts/install-deps.sh)");
    if (why.isEmpty())
        why = PythonService::unavailableReason(
            QStringLiteral("import pyatspi"),
            QStringLiteral("python3-pyatspi is not installed (scripts/install-deps.sh)"));
    if (why.isEmpty() && !m_nginx.start())
        why = m_nginx.errorString();
    if (why.isEmpty() && !m_sessionBus.start())
        why = m_sessionBus.errorString();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    // Small images: the download is over in a moment.
    QVERIFY(m_nginx.serveFeed(QStringLiteral("catalogue.json"), QStringLiteral("catalogue.json"), 1 << 20));

    // The launcher owns org.a11y.Bus on the session bus and starts the
    // accessibility bus and its registry, which both sides find through it.
    // Its socket goes to a runtime folder of its own: by default it is one
    // per user (~/.cache/at-spi/bus), which a second run would take over.
    QVERIFY(m_runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.remove(QStringLiteral("DISPLAY"));
    m_launcher.setProcessEnvironment(environment);
    m_launcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_launcher.start(busLauncher, { QStringLiteral("--launch-immediately") });
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool answered = QTest::qWaitFor(
        [&] {
            if (m_launcher.state() == QProcess::NotRunning || !bus.isConnected())
                return true;
            if (!bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus")))
                return false;
            QDBusInterface a11y(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                QStringLiteral("org.a11y.Bus"), bus);
            const QDBusReply<QString> reply = a11y.call(QStringLiteral("GetAddress"));
            m_address = reply.isValid() ? reply.value() : QString();
            return !m_address.isEmpty();
        },
        20000);
    if (!answered || m_address.isEmpty())
        QSKIP("the accessibility bus of at-spi2-core did not start on the private session bus");
}

void TestScreenReader::cleanupTestCase()
{
    if (m_launcher.state() != QProcess::NotRunning) {
        m_launcher.terminate();
        if (!m_launcher.waitForFinished(5000))
            m_launcher.kill();
        m_launcher.waitForFinished();
    }
}

void TestScreenReader::wholeRoad_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("locale");
    QTest::newRow("English") << QStringLiteral("en") << QStringLiteral("en_US.UTF-8");
    QTest::newRow("Russian") << QStringLiteral("ru") << QStringLiteral("ru_RU.UTF-8");
}

void TestScreenReader::wholeRoad()
{
    QFETCH(QString, language);
    QFETCH(QString, locale);

    // A home of its own: nothing downloaded yet.
    ProgramSession program;

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("LANG"), locale);
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    const QString feed = m_nginx.url(QStringLiteral("/feeds/catalogue.json")).toString();
    QVERIFY2(program.start({ QStringLiteral("--testing"), QStringLiteral("--releasesUrl"), feed }, environment),
             qPrintable(program.errorString()));
    // The drive that can be restored comes two seconds after the others.
    QVERIFY2(program.waitForLog(ProgramLog::connected("Contains Live"), 30000) >= 0, program.logTail().constData());

    QProcess reader;
    QProcessEnvironment readerEnvironment = QProcessEnvironment::systemEnvironment();
    // Without a display the reader asks the session bus for the accessibility
    // bus, rather than take the one a desktop around the test announces on its X server.
    readerEnvironment.remove(QStringLiteral("DISPLAY"));
    reader.setProcessEnvironment(readerEnvironment);
    reader.setProcessChannelMode(QProcess::MergedChannels);
    reader.start(PythonService::interpreter(),
                 { QStringLiteral(FLASHWRIGHT_SCREENREADER_SCRIPT), QString::number(program.processId()), language,
                   QStringLiteral(FLASHWRIGHT_TRANSLATIONS_DIR "/ru.ts") });
    const bool ended = reader.waitForFinished(240000);
    if (!ended) {
        reader.kill();
        reader.waitForFinished();
    }
    const QByteArray said = reader.readAll();
    program.stop();
    QVERIFY2(ended && reader.exitStatus() == QProcess::NormalExit && reader.exitCode() == 0,
             qPrintable(QString::fromUtf8(said + "\nprogram:\n" + program.logTail())));
}

QTEST_GUILESS_MAIN(TestScreenReader)
#include "tst_screenreader.moc"
