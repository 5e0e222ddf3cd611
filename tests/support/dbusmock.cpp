#include "dbusmock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTest>

#include <utility>

DBusMock::DBusMock(QString busName, QString path)
    : m_busName(std::move(busName))
    , m_path(std::move(path))
{ }

DBusMock::~DBusMock()
{
    stop();
}

QString DBusMock::unavailableReason()
{
    return PythonService::unavailableReason(QStringLiteral("import dbusmock"),
                                            QStringLiteral("python3-dbusmock is not installed"));
}

std::unique_ptr<DBusMock> DBusMock::startNotificationDaemon(QString *error)
{
    auto daemon = std::make_unique<DBusMock>(QStringLiteral("org.freedesktop.Notifications"),
                                             QStringLiteral("/org/freedesktop/Notifications"));
    if (daemon->start({ QStringLiteral("-t"), QStringLiteral("notification_daemon") }))
        return daemon;
    *error = daemon->errorString();
    return nullptr;
}

QList<QStringList> DBusMock::notifications()
{
    // Notify(app, replaces, icon, summary, body, actions, hints, timeout).
    QList<QStringList> shown;
    for (const QVariantList &call : calls(QStringLiteral("Notify")))
        shown.append({ call.value(3).toString(), call.value(4).toString() });
    return shown;
}

bool DBusMock::start(const QStringList &arguments)
{
    m_service.process().setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!m_service.start(QStringList { QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session") }
                         + arguments)) {
        m_errorString = m_service.errorString();
        return false;
    }
    const QProcess &process = m_service.process();
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    const bool owned
        = bus
        && QTest::qWaitFor(
              [&] { return bus->isServiceRegistered(m_busName).value() || process.state() == QProcess::NotRunning; },
              20000)
        && process.state() == QProcess::Running;
    if (!owned) {
        m_errorString = QStringLiteral("dbusmock did not take the name ") + m_busName;
        stop();
    }
    return owned;
}

void DBusMock::stop()
{
    if (m_service.process().state() == QProcess::NotRunning)
        return;
    m_service.stop();
    // Let the bus drop the name before the next test looks for it.
    if (QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface())
        (void)QTest::qWaitFor([&] { return !bus->isServiceRegistered(m_busName).value(); }, 5000);
}

QDBusMessage DBusMock::control(const QString &method, const QVariantList &arguments, const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_busName, path.isEmpty() ? m_path : path,
                                                       QStringLiteral("org.freedesktop.DBus.Mock"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

QList<QVariantList> DBusMock::calls(const QString &method)
{
    QList<QVariantList> result;
    const QDBusMessage reply = control(QStringLiteral("GetMethodCalls"), { method });
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    // a(tav): a time stamp and the arguments of each call.
    const auto log = reply.arguments().constFirst().value<QDBusArgument>();
    log.beginArray();
    while (!log.atEnd()) {
        quint64 stamp = 0;
        QVariantList arguments;
        log.beginStructure();
        log >> stamp >> arguments;
        log.endStructure();
        result.append(arguments);
    }
    log.endArray();
    return result;
}
