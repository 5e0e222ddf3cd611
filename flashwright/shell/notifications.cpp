#include "notifications.h"

#include "appinfo.h"
#include "messagehandler.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

void Notifications::notify(const QString &title, const QString &message)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // susssasa{sv}i: application, id to replace (0 = new), icon, summary,
    // body, actions, hints, expiry (-1 = the server's default).
    call << QStringLiteral("Zelvan Flashwright") << uint(0) << AppInfo::applicationId << title << message
         << QStringList() << QVariantMap() << int(-1);

    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qCWarning(MessageHandler::category)
            << "Couldn't send a notification:" << reply.errorName() << "-" << reply.errorMessage();
}
