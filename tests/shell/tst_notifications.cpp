#include "appinfo.h"
#include "dbusmock.h"
#include "logcapture.h"
#include "notifications.h"
#include "privatebus.h"
#include "testlocale.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// The child's part of unansweredServer(): one notification, sent at the
// moment `when` names; `release` is the file that lets the stand-in answer.
int notifyInChild(int argc, char **argv, const QString &when, const QString &release)
{
    auto application = std::make_unique<QCoreApplication>(argc, argv);
    // As in the program, the session bus is in use long before the end.
    if (!QDBusConnection::sessionBus().isConnected())
        return 2;
    const auto notify = [] { Notifications::notify(QStringLiteral("Error"), QStringLiteral("Writing failed")); };
    if (when == QLatin1String("in the event loop")) {
        QTimer::singleShot(0, application.get(), [&] {
            notify();
            // Only an event loop that goes on lets the stand-in answer.
            QTimer::singleShot(0, application.get(), [&] {
                QFile(release).open(QIODevice::WriteOnly);
                QCoreApplication::quit();
            });
        });
    } else {
        QTimer::singleShot(0, application.get(), &QCoreApplication::quit);
    }
    QCoreApplication::exec();
    if (when == QLatin1String("after the event loop"))
        notify();
    application.reset();
    if (when == QLatin1String("after the application"))
        notify();
    return 0;
}

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void warnsWithoutServer();
    void sendsTheEightArguments();
    void unansweredServer_data();
    void unansweredServer();

private:
    PrivateBus m_bus { PrivateBus::Session };
};

void TestNotifications::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    TestLocale::pinEnglish();
    if (!m_bus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + m_bus.errorString()));
}

void TestNotifications::warnsWithoutServer()
{
    // The bus has no activatable services, so the call fails at once.
    LogCapture log;
    Notifications::notify(QStringLiteral("Finished!"), QStringLiteral("nobody listens"));
    static const QRegularExpression warning(QStringLiteral(
        "^Couldn't send a notification: \"org\\.freedesktop\\.DBus\\.Error\\.ServiceUnknown\" - \".+\"$"));
    QTRY_VERIFY2(!log.messages().filter(warning).isEmpty(), qPrintable(log.messages().join(u'\n')));
}

void TestNotifications::sendsTheEightArguments()
{
    const QString reason = DBusMock::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    DBusMock server(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"));
    QVERIFY2(server.start({ QStringLiteral("-t"), QStringLiteral("notification_daemon") }),
             qPrintable(server.errorString()));

    QTest::failOnWarning(QRegularExpression(QStringLiteral("notification")));
    Notifications::notify(QStringLiteral("Finished!"), QStringLiteral("The image was written to the drive."));

    QTRY_COMPARE(server.calls(QStringLiteral("Notify")).size(), 1);
    const QVariantList arguments = server.calls(QStringLiteral("Notify")).constFirst();
    QCOMPARE(arguments.size(), 8);
    QCOMPARE(arguments.at(0).toString(), QStringLiteral("Zelvan Flashwright"));
    QCOMPARE(arguments.at(1).metaType(), QMetaType::fromType<uint>());
    QCOMPARE(arguments.at(1).toUInt(), 0u);
    QCOMPARE(arguments.at(2).toString(), AppInfo::applicationId);
    QCOMPARE(arguments.at(3).toString(), QStringLiteral("Finished!"));
    QCOMPARE(arguments.at(4).toString(), QStringLiteral("The image was written to the drive."));
    QCOMPARE(arguments.at(5).toStringList(), QStringList());
    QVERIFY(qdbus_cast<QVariantMap>(arguments.at(6)).isEmpty());
    QCOMPARE(arguments.at(7).metaType(), QMetaType::fromType<int>());
    QCOMPARE(arguments.at(7).toInt(), -1);
}

void TestNotifications::unansweredServer_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("in the event loop") << QStringLiteral("in the event loop");
    // A drive that goes as the program ends is told about.
    QTest::newRow("after the event loop") << QStringLiteral("after the event loop");
    QTest::newRow("after the application") << QStringLiteral("after the application");
}

// A notification server that does not answer (until a file appears) must
// neither hold the program nor keep it from ending, and the call still reaches it.
void TestNotifications::unansweredServer()
{
    QFETCH(QString, when);
    const QString reason = DBusMock::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString release = dir.filePath(QStringLiteral("release"));
    DBusMock server(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"));
    QVERIFY2(server.start({ QStringLiteral("org.freedesktop.Notifications"),
                            QStringLiteral("/org/freedesktop/Notifications"),
                            QStringLiteral("org.freedesktop.Notifications") }),
             qPrintable(server.errorString()));
    const QString hang = QStringLiteral("import os, time\n"
                                        "deadline = time.time() + 60\n"
                                        "while not os.path.exists('%1') and time.time() < deadline:\n"
                                        "    time.sleep(0.02)\n"
                                        "ret = dbus.UInt32(1)\n")
                             .arg(release);
    const QDBusMessage added = server.control(
        QStringLiteral("AddMethod"),
        { QString(), QStringLiteral("Notify"), QStringLiteral("susssasa{sv}i"), QStringLiteral("u"), hang });
    QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--notify"), when, release });
    // Ending at all (the stand-in holds a call for longer than this) is
    // what is checked, not how soon.
    QVERIFY(child.waitForFinished(60000));
    const QByteArray errors = child.readAllStandardError();
    // Answered with a time-out, a waiting call would have said so.
    QVERIFY2(errors.isEmpty(), errors.constData());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);

    QFile file(release);
    QVERIFY(file.exists() || file.open(QIODevice::WriteOnly));
    QTRY_COMPARE(server.calls(QStringLiteral("Notify")).size(), 1);
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--notify") == 0)
        return notifyInChild(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication application(argc, argv);
    TestNotifications test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notifications.moc"
