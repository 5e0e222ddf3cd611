#pragma once

#include "dbustypes.h"
#include "driveprovider.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVariantHash>
#include <QVariantMap>

#include <memory>

class LinuxDrive;
class QDBusPendingCallWatcher;

// Finds the removable drives a user may write to among the objects of the
// UDisks2 service on the system bus. Every relevant change UDisks2 announces
// leads to a full new scan; a serial number on each request makes sure only
// the answer to the newest one counts.
class LinuxDriveProvider : public DriveProvider
{
    Q_OBJECT

public:
    // `sysfsRoot` is where the kernel's view of the block devices is read
    // (tests point it at a tree of their own).
    explicit LinuxDriveProvider(DriveManager *parent, QString sysfsRoot = QStringLiteral("/sys"));

    // The listed drives by the object path of their whole-disk block device.
    [[nodiscard]] QHash<QDBusObjectPath, LinuxDrive *> drives() const { return m_drives; }

private slots:
    void delayedConstruct();
    void init(QDBusPendingCallWatcher *w);
    void onInterfacesAdded(const QDBusObjectPath &object_path,
                           const InterfacesAndProperties &interfaces_and_properties);
    void onInterfacesRemoved(const QDBusObjectPath &object_path, const QStringList &interfaces);
    void onPropertiesChanged(const QString &interface_name, const QVariantMap &changed_properties,
                             const QStringList &invalidated_properties);

private:
    // The reply being worked through, a slice per pass of the event loop:
    // first decoded object by object, then its block objects handled.
    struct Scan
    {
        quint64 serial = 0;
        QDBusMessage reply;
        QDBusArgument cursor;
        bool decoded = false;
        DBusIntrospection objects;
        QList<QDBusObjectPath> blocks;
        QHash<QString, QStringList> partitionTypes;
        // The block objects by kernel name (sdb1, dm-0), and every mount
        // point with its block object.
        QHash<QString, QDBusObjectPath> byKernelName;
        QList<QPair<QByteArray, QDBusObjectPath>> mounts;
        // The drive objects the system uses, with why (for the log).
        QHash<QString, QString> systemDrives;
        qsizetype next = 0;
        QSet<QDBusObjectPath> listed;
    };

    void requestManagedObjects();
    void continueScan();
    // What the handling needs from the whole reply: the block objects, the
    // filesystem types of each disk's partitions, the drives the system uses.
    void classify(Scan &scan) const;
    // The drive objects below a block object, through every layer between:
    // dm-crypt, LVM and other device-mapper targets, md RAID (as sysfs
    // shows them), and loop devices over a file (down to the filesystem that
    // holds the file).
    [[nodiscard]] QSet<QString> drivesUnder(const Scan &scan, const QDBusObjectPath &top) const;
    // The path of the drive that the object now stands for, or an empty path
    // when it is not one a user may write to. `driveProperties` are those of
    // its drive object, from the same reply; `systemDrives` the drive objects
    // the system uses, with why.
    QDBusObjectPath handleObject(const QDBusObjectPath &object_path,
                                 const InterfacesAndProperties &interfaces_and_properties,
                                 const QStringList &partitionTypes, const QVariantHash &driveProperties,
                                 const QHash<QString, QString> &systemDrives);
    void removeDrive(const QDBusObjectPath &path);

    QHash<QDBusObjectPath, LinuxDrive *> m_drives;
    quint64 m_requestSerial = 0;
    QString m_sysfsRoot;
    // Set by a failed scan, cleared by the next good one.
    bool m_backendBroken = false;
    std::unique_ptr<Scan> m_scan;
};
