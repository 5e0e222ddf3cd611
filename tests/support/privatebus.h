#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, with a configuration that lets every local
// client own any name and call anything. start() exports its address as
// DBUS_SYSTEM_BUS_ADDRESS or DBUS_SESSION_BUS_ADDRESS (before the first use of
// the matching QDBusConnection, which reads the variable once), so both this
// process and the programs it starts talk to it instead of the machine's bus.
class PrivateBus
{
public:
    enum Kind { System, Session };

    explicit PrivateBus(Kind kind);
    ~PrivateBus();

    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // False, with errorString() saying why, when dbus-daemon is missing or failed.
    bool start();
    void stop();

    [[nodiscard]] QString address() const { return m_address; }
    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] static const char *variableName(Kind kind);

    // True when this process's system bus connection reaches a daemon other
    // than the machine's own system bus, so nothing a test asks of "UDisks2"
    // there can reach a real drive. Tests that start writes or restores
    // refuse to run otherwise; `why` says what is wrong.
    [[nodiscard]] static bool isSystemBusPrivate(QString *why);

private:
    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_errorString;
};
