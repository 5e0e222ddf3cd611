#pragma once

#include "pythonservice.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// The fake UDisks2 service (fakeudisks2.py beside this file) on the bus that
// DBUS_SYSTEM_BUS_ADDRESS names, usually a PrivateBus started before. The JSON
// configuration says which objects exist and how each call is answered (the
// script's own comment lists the keys; UdisksObjects below builds it); every
// call the service receives is logged and can be read back with calls().
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

// Objects of the fake UDisks2 service as the real one shows them: drive
// objects with their properties, whole-disk and partition block objects.
namespace UdisksObjects {

struct DriveObject
{
    QString vendor = QStringLiteral("SanDisk");
    QString model = QStringLiteral("Cruzer");
    qint64 size = 16008609792LL;
    QString bus = QStringLiteral("usb");
    bool removable = true;
    bool mediaAvailable = true;
    bool optical = false;
    QStringList compatibility;

    [[nodiscard]] QJsonObject json() const
    {
        QJsonObject drive {
            { QStringLiteral("Vendor"), vendor },       { QStringLiteral("Model"), model },
            { QStringLiteral("Size"), size },           { QStringLiteral("ConnectionBus"), bus },
            { QStringLiteral("Removable"), removable }, { QStringLiteral("MediaAvailable"), mediaAvailable },
            { QStringLiteral("Optical"), optical }
        };
        if (!compatibility.isEmpty())
            drive.insert(QStringLiteral("MediaCompatibility"), QJsonArray::fromStringList(compatibility));
        return drive;
    }
};

// A whole disk of drive `drive` (a name under drives/), partitioned or not.
inline QJsonObject disk(const QString &drive, const QString &idType = QString(), bool partitionTable = false)
{
    QJsonObject block { { QStringLiteral("drive"), FakeUDisks2::drivePath(drive) },
                        { QStringLiteral("idType"), idType } };
    if (partitionTable)
        block.insert(QStringLiteral("partitionTable"), QJsonObject());
    return block;
}

// A partition of the disk `table` (a name under block_devices/).
inline QJsonObject partition(const QString &drive, const QString &table, const QString &idType,
                             const QJsonObject &more = QJsonObject())
{
    QJsonObject block = more;
    block.insert(QStringLiteral("drive"), FakeUDisks2::drivePath(drive));
    block.insert(QStringLiteral("partitionOf"), FakeUDisks2::blockPath(table));
    block.insert(QStringLiteral("idType"), idType);
    return block;
}

// Keys of a block object the kernel knows as `name` (/dev/<name>), as the
// stacked devices (dm-0, md127, loop0) and their lower devices need them.
inline QJsonObject kernelDevice(const QString &name, QJsonObject more = QJsonObject())
{
    more.insert(QStringLiteral("device"), QStringLiteral("/dev/") + name);
    return more;
}

// What OpenDevice hands out for the block: the file at path (with "direct",
// opened with the caller's O_DIRECT and O_SYNC).
inline QJsonObject openFile(const QString &path, bool direct = false)
{
    QJsonObject open { { QStringLiteral("file"), path } };
    if (direct)
        open.insert(QStringLiteral("direct"), true);
    return open;
}

// A D-Bus error as the fake answers it ("error", "unmountError", ...).
inline QJsonObject dbusError(const QString &name, const QString &message)
{
    return { { QStringLiteral("name"), name }, { QStringLiteral("message"), message } };
}

// A configuration of the fake service: block objects and drive objects by name.
struct Layout
{
    QJsonObject blocks;
    QJsonObject drives;

    Layout &add(const QString &blockName, const QJsonObject &block)
    {
        blocks.insert(FakeUDisks2::blockPath(blockName), block);
        return *this;
    }
    Layout &add(const QString &driveName, const DriveObject &drive)
    {
        drives.insert(FakeUDisks2::drivePath(driveName), drive.json());
        return *this;
    }
    // A drive with one whole disk named after the block, partitioned with
    // partitions of the given filesystem types (none: not partitioned).
    Layout &stick(const QString &blockName, const DriveObject &drive, const QStringList &partitionTypes = {},
                  const QString &diskType = QString())
    {
        const QString driveName = QStringLiteral("drive_") + blockName;
        add(driveName, drive);
        add(blockName, disk(driveName, diskType, !partitionTypes.isEmpty()));
        for (int i = 0; i < partitionTypes.size(); ++i) {
            const QString suffix = blockName.startsWith(QLatin1String("mmcblk")) ? QStringLiteral("p") : QString();
            add(blockName + suffix + QString::number(i + 1), partition(driveName, blockName, partitionTypes.at(i)));
        }
        return *this;
    }
    [[nodiscard]] QJsonObject json() const
    {
        return { { QStringLiteral("blocks"), blocks }, { QStringLiteral("drives"), drives } };
    }
};

} // namespace UdisksObjects

Q_DECLARE_METATYPE(UdisksObjects::Layout)
