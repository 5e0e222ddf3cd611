#pragma once

#include <QString>

// The names under which UDisks2 serves on the system bus, as the program
// (which lists drives) and the helper (which opens, unmounts and
// partitions them) both call it. Functions rather than constants: the tests
// build paths from them in their own static initialisers.
namespace Udisks2 {

inline QString service()
{
    return QStringLiteral("org.freedesktop.UDisks2");
}
// The object manager of all UDisks2 objects.
inline QString rootPath()
{
    return QStringLiteral("/org/freedesktop/UDisks2");
}
// Block device objects live below this path, drive objects below the other.
inline QString blockDevicesPath()
{
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices");
}
inline QString drivesPath()
{
    return QStringLiteral("/org/freedesktop/UDisks2/drives");
}

inline QString blockInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Block");
}
inline QString driveInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Drive");
}
inline QString filesystemInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Filesystem");
}
inline QString loopInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Loop");
}
inline QString partitionInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Partition");
}
inline QString partitionTableInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.PartitionTable");
}
inline QString swapspaceInterface()
{
    return QStringLiteral("org.freedesktop.UDisks2.Swapspace");
}

// The standard D-Bus interfaces that UDisks2 objects carry.
inline QString objectManagerInterface()
{
    return QStringLiteral("org.freedesktop.DBus.ObjectManager");
}
inline QString propertiesInterface()
{
    return QStringLiteral("org.freedesktop.DBus.Properties");
}

// The errors that the helper tells apart.
inline QString failedError()
{
    return QStringLiteral("org.freedesktop.UDisks2.Error.Failed");
}
inline QString deviceBusyError()
{
    return QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy");
}
inline QString notMountedError()
{
    return QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");
}

} // namespace Udisks2
