#pragma once

#include "fakeudisks2.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

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
