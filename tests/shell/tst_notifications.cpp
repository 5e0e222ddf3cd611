#include "appinfo.h"
#include "dbusmock.h"
#include "notifications.h"
#include "privatebus.h"

#include <QDBusMetaType>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

class TestNotifications : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void warnsWithoutServer();
    void sendsTheEightArguments();

private:
    PrivateBus m_bus { PrivateBus::Session };
};

void TestNotifications::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (!m_bus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + m_bus.errorString()));
}

void TestNotifications::warnsWithoutServer()
{
    // The bus has no activatable services, so the call fails at once.
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^Couldn't send a notification: "
                                          "\"org\\.freedesktop\\.DBus\\.Error\\.ServiceUnknown\" - \".+\"$")));
    Notifications::notify(QStringLiteral("Finished!"), QStringLiteral("nobody listens"));
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

    const QList<QVariantList> calls = server.calls(QStringLiteral("Notify"));
    QCOMPARE(calls.size(), 1);
    const QVariantList &arguments = calls.constFirst();
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

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
