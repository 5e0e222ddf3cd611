#include "privatebus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStandardPaths>

namespace {
// The machine's system bus, where the real UDisks2 lives.
const QString machineSystemBus = QStringLiteral("unix:path=/run/dbus/system_bus_socket");

QString busId(const QDBusConnection &connection)
{
    const QDBusMessage reply = connection.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
}
} // namespace

PrivateBus::PrivateBus(Kind kind)
    : m_kind(kind)
{
}

PrivateBus::~PrivateBus()
{
    stop();
}

const char *PrivateBus::variableName(Kind kind)
{
    return kind == System ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
}

bool PrivateBus::start()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        m_errorString = QStringLiteral("dbus-daemon is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        m_errorString = QStringLiteral("cannot create a temporary directory");
        return false;
    }

    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = file.errorString();
        return false;
    }
    file.write(QStringLiteral(
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>%1</type>\n"
                   "  <listen>unix:dir=%2</listen>\n"
                   "  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow user=\"*\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "    <allow send_type=\"method_call\"/>\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n")
                   .arg(m_kind == System ? QStringLiteral("system") : QStringLiteral("session"), m_dir.path())
                   .toUtf8());
    file.close();

    m_daemon.setProgram(daemon);
    m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) {
        m_errorString = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        return false;
    }
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(5000)) {
            m_errorString = QStringLiteral("dbus-daemon printed no address: ")
                + QString::fromLocal8Bit(m_daemon.readAllStandardError());
            stop();
            return false;
        }
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    qputenv(variableName(m_kind), m_address.toUtf8());
    return true;
}

void PrivateBus::stop()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

bool PrivateBus::isSystemBusPrivate(QString *why)
{
    const QString address = qEnvironmentVariable(variableName(System));
    if (address.isEmpty()) {
        *why = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS is not set, so the machine's system bus would be used");
        return false;
    }
    const QDBusConnection ours = QDBusConnection::systemBus();
    const QString ourId = busId(ours);
    if (!ours.isConnected() || ourId.isEmpty()) {
        *why = QStringLiteral("the system bus at %1 does not answer").arg(address);
        return false;
    }
    if (QFile::exists(machineSystemBus.mid(int(qstrlen("unix:path="))))) {
        const QString name = QStringLiteral("flashwright-machine-system-bus");
        const QString machineId = busId(QDBusConnection::connectToBus(machineSystemBus, name));
        QDBusConnection::disconnectFromBus(name);
        if (machineId == ourId) {
            *why = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS (%1) leads to the machine's system bus").arg(address);
            return false;
        }
    }
    return true;
}
