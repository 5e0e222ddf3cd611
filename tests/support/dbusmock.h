#pragma once

#include "pythonservice.h"

#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

// A python-dbusmock service on the session bus (normally a PrivateBus) for the
// desktop services the program talks to.
class DBusMock
{
public:
    DBusMock(QString busName, QString path);
    ~DBusMock();

    DBusMock(const DBusMock &) = delete;
    DBusMock &operator=(const DBusMock &) = delete;

    // Empty when dbusmock can be used, else why not (for QSKIP).
    static QString unavailableReason();
    // The desktop's notification daemon (dbusmock's template), started; null
    // with *error saying why when it did not start.
    static std::unique_ptr<DBusMock> startNotificationDaemon(QString *error);

    // Starts `python3 -m dbusmock --session <arguments>` and waits until the
    // bus name is owned.
    bool start(const QStringList &arguments);
    void stop();
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // Calls a method of dbusmock's control interface on the given object
    // (the main object by default); the reply, which may be an error.
    QDBusMessage control(const QString &method, const QVariantList &arguments, const QString &path = {});

    // Arguments of each recorded call of `method` on the main object, oldest first.
    QList<QVariantList> calls(const QString &method);
    // Of a notification daemon: the notifications shown, (summary, body) each.
    QList<QStringList> notifications();

private:
    QString m_busName;
    QString m_path;
    PythonService m_service { QStringLiteral("dbusmock") };
    QString m_errorString;
};
