#pragma once

#include "pythonservice.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// The fake UDisks2 service (fakeudisks2.py beside this file) on the bus that
// DBUS_SYSTEM_BUS_ADDRESS names, usually a PrivateBus started before. The JSON
// configuration says which objects exist and how each call is answered (the
// script's own comment lists the keys); every call the service receives is
// logged and can be read back with calls().
class FakeUDisks2
{
public:
    FakeUDisks2();
    ~FakeUDisks2();

    FakeUDisks2(const FakeUDisks2 &) = delete;
    FakeUDisks2 &operator=(const FakeUDisks2 &) = delete;

    // False when the interpreter lacks the dbus or GLib bindings: tests skip then.
    [[nodiscard]] static bool isAvailable(QString *why = nullptr);
    [[nodiscard]] static QString blockPath(const QString &name);
    [[nodiscard]] static QString drivePath(const QString &name);

    // Starts the service and waits until it owns its name. A running service
    // is stopped first, and the call log starts empty.
    bool start(const QJsonObject &config);
    void stop();
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // The calls received so far, oldest first, as logged by the script; with a
    // method name only the calls of that method.
    [[nodiscard]] QList<QJsonObject> calls(const QString &method = QString()) const;
    [[nodiscard]] QStringList callObjects(const QString &method) const;
    // Waits, running the event loop, until a call of that method arrives.
    bool waitForCall(const QString &method, int timeoutMs = 10000) const;

    // Changes while the service runs, each announced with the signals UDisks2
    // sends for it (InterfacesAdded with the object's full interfaces,
    // InterfacesRemoved, PropertiesChanged); the signals are on their way
    // before these return. Keys as in the configuration; a null value in
    // `changes` deletes that key. False, with errorString(), on failure.
    bool addObject(const QString &path, const QJsonObject &config);
    bool removeObject(const QString &path);
    bool updateObject(const QString &path, const QJsonObject &changes);
    // While held, GetManagedObjects replies carry the state at the time of
    // the call but are sent only by releaseManagedObjects(), which returns
    // how many it sent (-1 on failure).
    bool holdManagedObjects(bool hold);
    int releaseManagedObjects();

private:
    bool control(const QString &method, const QVariantList &arguments, QVariant *result = nullptr);

    QTemporaryDir m_dir;
    PythonService m_service { QStringLiteral("the fake UDisks2 service") };
    QString m_logPath;
    QString m_errorString;
};
