#include "notifications.h"

#include "appinfo.h"
#include "messagehandler.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

namespace {

// Calls sent whose answer has not come yet (main thread only).
int unanswered = 0;

// A call is handed to Qt's D-Bus thread, which may be stopped at exit before
// it has sent it. Calls on one connection leave in order, so once the bus
// itself has answered a call given after them, they are out of this process;
// the bus answers at once even when the notification server hangs.
void waitUntilSent()
{
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    QDBusConnection::sessionBus().call(ping, QDBus::Block, 2000);
}

// Run as the application object goes.
void sendUnanswered()
{
    if (unanswered > 0)
        waitUntilSent();
}

} // namespace

void Notifications::notify(const QString &title, const QString &message)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // susssasa{sv}i: application, id to replace (0 = new), icon, summary,
    // body, actions, hints, expiry (-1 = the server's default).
    call << QStringLiteral("Zelvan Flashwright") << uint(0) << AppInfo::applicationId << title << message
         << QStringList() << QVariantMap() << int(-1);

    // Never waited for: a notification server that hangs would hold the
    // window (and every drive and download) until the D-Bus timeout.
    const QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call);

    QCoreApplication *application = QCoreApplication::instance();
    if (!application || QCoreApplication::closingDown()) {
        // Called as the program ends (a drive that goes with it): nothing
        // will read the answer, but the call must still leave.
        waitUntilSent();
        return;
    }
    // Qt runs the routines once, as the application object goes, and then
    // forgets them: each application object needs its own.
    static QPointer<QCoreApplication> registered;
    if (registered != application) {
        qAddPostRoutine(sendUnanswered);
        registered = application;
    }
    ++unanswered;
    auto *watcher = new QDBusPendingCallWatcher(pending, application);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher *answered) {
        --unanswered;
        if (answered->isError())
            qCWarning(MessageHandler::category)
                << "Couldn't send a notification:" << answered->error().name() << "-" << answered->error().message();
        answered->deleteLater();
    });
}
