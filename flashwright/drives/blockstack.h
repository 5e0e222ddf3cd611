#pragma once

#include <QString>
#include <QStringList>

// What a block device stands on, as sysfs shows it: the devices below it
// (through device-mapper, LVM, md RAID and dm-crypt, each layer listing its
// lower devices in `slaves`), and the files its loop devices read. A
// filesystem on /dev/dm-0 or /dev/loop0 uses the drives these lead to.
struct BlockStack
{
    // The device itself and every device below it, by kernel name (sdb2,
    // dm-0, md127), nearest first.
    QStringList devices;
    // The backing files of the loop devices among them, as the kernel gives
    // them (" (deleted)" taken off).
    QStringList backingFiles;

    // `sysfsRoot` is /sys on a running system. Reads a few small files; a
    // device sysfs does not know gives just that device.
    [[nodiscard]] static BlockStack of(const QString &sysfsRoot, const QString &device);
};
