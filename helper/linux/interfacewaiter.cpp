#include "interfacewaiter.h"

#include "dbustypes.h"
#include "udisks2names.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

InterfaceWaiter::InterfaceWaiter(const QString &path, const QString &interface)
    : m_path(path)
    , m_interface(interface)
{ }

bool InterfaceWaiter::wait(int timeoutMs)
{
    // Listening first, then looking: an interface added in between is
    // either in the object list or announced by the signal.
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                QStringLiteral("InterfacesAdded"), this, SLOT(onInterfacesAdded(QDBusMessage)));
    m_found = isPresent();
    if (!m_found) {
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        timeout.start(timeoutMs);
        m_loop.exec();
    }
    bus.disconnect(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                   QStringLiteral("InterfacesAdded"), this, SLOT(onInterfacesAdded(QDBusMessage)));
    return m_found;
}

void InterfaceWaiter::onInterfacesAdded(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (m_found || arguments.size() != 2 || arguments.at(0).value<QDBusObjectPath>().path() != m_path)
        return;
    if (!qdbus_cast<InterfacesAndProperties>(arguments.at(1)).contains(m_interface))
        return;
    m_found = true;
    m_loop.quit();
}

bool InterfaceWaiter::isPresent() const
{
    const QDBusMessage call
        = QDBusMessage::createMethodCall(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                                         QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return false;
    const auto objects = qdbus_cast<DBusIntrospection>(reply.arguments().constFirst());
    return objects.value(QDBusObjectPath(m_path)).contains(m_interface);
}
