#include "linuxdriveprovider.h"

#include "blockstack.h"
#include "drivemanager.h"
#include "linuxdrive.h"
#include "messagehandler.h"
#include "udisks2names.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

namespace {
// A scan gives the window back after this long and goes on with the next
// pass of the event loop: a reply listing hundreds of objects takes longer
// than a frame to decode and sort out.
constexpr qint64 scanSliceNs = 4000000;

// Where the running system lives: a drive with any of these mounted, or with
// active swap, is never offered, whatever bus it hangs on.
const QList<QByteArray> systemMountPoints { "/", "/boot", "/boot/efi", "/usr", "/var", "/home" };
// Where the initramfs of a live system mounts the medium it started from,
// while / is an overlay or a loop device over a file on that medium.
const QList<QByteArray> liveMediumMountPoints { "/run/initramfs/live",  "/run/live/medium", "/lib/live/mount/medium",
                                                "/run/archiso/bootmnt", "/cdrom",           "/isodevice" };
// Where the desktop mounts the user's removable media; a filesystem mounted
// anywhere else is in use by the system (or by someone who mounted it there
// by hand), and its drive is not offered.
const QList<QByteArray> removableMediaFolders { "/media/", "/run/media/" };

bool isCommonFilesystem(const QString &type)
{
    return type == QLatin1String("vfat") || type == QLatin1String("exfat") || type == QLatin1String("ntfs");
}

bool isLiveImageFilesystem(const QString &type)
{
    return type == QLatin1String("iso9660") || type == QLatin1String("udf");
}

// True when the drive does not look like an ordinary data drive: it holds an
// ISO image, a filesystem other than the common three, or a partition that
// is not one of them (an unformatted one included).
bool containsLiveLayout(const InterfacesAndProperties &interfaces, const QStringList &partitionTypes)
{
    const QString type = interfaces.value(Udisks2::blockInterface()).value(QStringLiteral("IdType")).toString();
    if (type == QLatin1String("iso9660"))
        return true;
    if (!interfaces.contains(Udisks2::partitionTableInterface()))
        return !type.isEmpty() && !isCommonFilesystem(type);
    return std::any_of(partitionTypes.cbegin(), partitionTypes.cend(),
                       [](const QString &partitionType) { return !isCommonFilesystem(partitionType); });
}

QString objectPathOf(const QVariant &value)
{
    const QString path = value.value<QDBusObjectPath>().path();
    return path == QLatin1String("/") ? QString() : path;
}

// UDisks2 sends byte strings with their terminating NUL.
QByteArray untilNul(QByteArray bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

QList<QByteArray> mountPointsOf(const InterfacesAndProperties &interfaces)
{
    const QVariant value = interfaces.value(Udisks2::filesystemInterface()).value(QStringLiteral("MountPoints"));
    QList<QByteArray> mountPoints;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> mountPoints;
    else
        mountPoints = value.value<QList<QByteArray>>();
    for (QByteArray &mountPoint : mountPoints)
        mountPoint = untilNul(mountPoint);
    return mountPoints;
}

// Why the system uses a block device, ranked (the higher, the more telling
// for the log): it backs swap, holds the running system or the medium a live
// system started from, or is mounted somewhere a user's stick is not.
struct SystemUse
{
    int rank = 0;
    QString why;
};

bool isUnder(const QByteArray &path, const QByteArray &folder)
{
    return path.startsWith(folder)
        && (folder.endsWith('/') || path.size() == folder.size() || path.at(folder.size()) == '/');
}

SystemUse systemUseOf(const InterfacesAndProperties &interfaces)
{
    if (interfaces.value(Udisks2::swapspaceInterface()).value(QStringLiteral("Active")).toBool())
        return { 4, QStringLiteral("it backs active swap") };
    SystemUse use;
    const QList<QByteArray> mountPoints = mountPointsOf(interfaces);
    for (const QByteArray &mountPoint : mountPoints) {
        const QString at = QString::fromUtf8(mountPoint);
        if (systemMountPoints.contains(mountPoint))
            return { 3, QStringLiteral("the running system is mounted from it at ") + at };
        if (liveMediumMountPoints.contains(mountPoint))
            use = { 2, QStringLiteral("the live system started from it, mounted at ") + at };
        else if (use.rank < 1
                 && std::none_of(removableMediaFolders.cbegin(), removableMediaFolders.cend(),
                                 [&mountPoint](const QByteArray &folder) { return isUnder(mountPoint, folder); }))
            use = { 1, QStringLiteral("it is mounted outside the removable-media folders, at ") + at };
    }
    return use;
}

QString kernelNameOf(const QVariantHash &block)
{
    const QByteArray device = untilNul(block.value(QStringLiteral("Device")).toByteArray());
    return QString::fromUtf8(device.mid(device.lastIndexOf('/') + 1));
}

// Whole disks only: partitions (sdb1, mmcblk0p1, mmcblk0p10), devices whose
// names end in a digit (loop0, sr0, nvme0n1) and the boot and RPMB areas of
// an eMMC (mmcblk0boot0, mmcblk0rpmb) are no targets.
bool isWholeDiskPath(const QString &path)
{
    static const QRegularExpression mmcWholeDisk(QStringLiteral("^mmcblk[0-9]+$"));
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty())
        return false;
    if (name.startsWith(QLatin1String("mmcblk")))
        return mmcWholeDisk.match(name).hasMatch();
    return !name.back().isDigit();
}
} // namespace

LinuxDriveProvider::LinuxDriveProvider(DriveManager *parent, QString sysfsRoot)
    : DriveProvider(parent)
    , m_sysfsRoot(std::move(sysfsRoot))
{
    qCDebug(MessageHandler::category) << metaObject()->className() << "construction";
    qDBusRegisterMetaType<InterfacesAndProperties>();
    qDBusRegisterMetaType<DBusIntrospection>();
    m_initialized = false;
    // The manager connects to this provider only after the constructor returns.
    QTimer::singleShot(0, this, &LinuxDriveProvider::delayedConstruct);
}

void LinuxDriveProvider::delayedConstruct()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    // Subscribed before the first request, so that no change falls between
    // the state the reply describes and the first signal heard.
    bus.connect(Udisks2::service(), QString(), Udisks2::propertiesInterface(), QStringLiteral("PropertiesChanged"),
                this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    bus.connect(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                QStringLiteral("InterfacesAdded"), this,
                SLOT(onInterfacesAdded(QDBusObjectPath, InterfacesAndProperties)));
    bus.connect(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                QStringLiteral("InterfacesRemoved"), this, SLOT(onInterfacesRemoved(QDBusObjectPath, QStringList)));
    // udisksd restarting (during an upgrade, say) fails the requests sent
    // meanwhile; once it is back, a new scan shows whether all is well again.
    auto *watcher = new QDBusServiceWatcher(Udisks2::service(), bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &LinuxDriveProvider::requestManagedObjects);
    qCDebug(MessageHandler::category) << metaObject()->className() << "Calling GetManagedObjects over DBus";
    requestManagedObjects();
}

void LinuxDriveProvider::requestManagedObjects()
{
    // Asynchronous: a stalled udisksd must not freeze the window.
    const QDBusMessage call
        = QDBusMessage::createMethodCall(Udisks2::service(), Udisks2::rootPath(), Udisks2::objectManagerInterface(),
                                         QStringLiteral("GetManagedObjects"));
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    watcher->setProperty("serial", QVariant::fromValue<quint64>(++m_requestSerial));
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &LinuxDriveProvider::init);
}

void LinuxDriveProvider::init(QDBusPendingCallWatcher *w)
{
    w->deleteLater();
    if (w->property("serial").value<quint64>() != m_requestSerial) {
        qCDebug(MessageHandler::category)
            << metaObject()->className() << "Ignoring outdated reply to GetManagedObjects";
        return;
    }
    qCDebug(MessageHandler::category) << metaObject()->className() << "Got a reply to GetManagedObjects, parsing";

    const QDBusMessage reply = w->reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        const QDBusError error = reply.type() == QDBusMessage::ErrorMessage
            ? QDBusError(reply)
            : QDBusError(QDBusError::InvalidSignature,
                         QStringLiteral("Unexpected reply signature \"%1\"").arg(reply.signature()));
        qCWarning(MessageHandler::category) << "Could not read drives from UDisks:" << error.name() << error.message();
        m_backendBroken = true;
        emit backendBroken(tr("UDisks2 seems to be unavailable or unaccessible on your system."));
        return;
    }
    if (std::exchange(m_backendBroken, false)) {
        qCInfo(MessageHandler::category) << metaObject()->className() << "UDisks2 answers again";
        emit backendRecovered();
    }
    m_scan = std::make_unique<Scan>();
    m_scan->serial = m_requestSerial;
    m_scan->reply = reply;
    m_scan->cursor = reply.arguments().constFirst().value<QDBusArgument>();
    std::as_const(m_scan->cursor).beginMap();
    continueScan();
}

void LinuxDriveProvider::continueScan()
{
    Scan *scan = m_scan.get();
    if (!scan)
        return;
    if (scan->serial != m_requestSerial) {
        // A newer request is on its way, and its reply makes a full scan.
        m_scan.reset();
        return;
    }
    QElapsedTimer slice;
    slice.start();
    const auto sliceIsOver = [&slice] { return slice.nsecsElapsed() >= scanSliceNs; };

    // Read through a const reference: the others are the writing overloads.
    const QDBusArgument &cursor = scan->cursor;
    while (!scan->decoded) {
        if (cursor.atEnd()) {
            cursor.endMap();
            scan->decoded = true;
            classify(*scan);
            break;
        }
        QDBusObjectPath path;
        InterfacesAndProperties interfaces;
        cursor.beginMapEntry();
        cursor >> path >> interfaces;
        cursor.endMapEntry();
        scan->objects.insert(path, interfaces);
        if (sliceIsOver()) {
            QTimer::singleShot(0, this, &LinuxDriveProvider::continueScan);
            return;
        }
    }

    while (scan->next < scan->blocks.size()) {
        const QDBusObjectPath &path = scan->blocks.at(scan->next++);
        const InterfacesAndProperties interfaces = scan->objects.value(path);
        const QString drivePath
            = objectPathOf(interfaces.value(Udisks2::blockInterface()).value(QStringLiteral("Drive")));
        const QVariantHash driveProperties = drivePath.isEmpty()
            ? QVariantHash()
            : scan->objects.value(QDBusObjectPath(drivePath)).value(Udisks2::driveInterface());
        const QDBusObjectPath listed = handleObject(path, interfaces, scan->partitionTypes.value(path.path()),
                                                    driveProperties, scan->systemDrives);
        if (!listed.path().isEmpty())
            scan->listed.insert(listed);
        if (scan->next < scan->blocks.size() && sliceIsOver()) {
            QTimer::singleShot(0, this, &LinuxDriveProvider::continueScan);
            return;
        }
    }

    const QList<QDBusObjectPath> oldPaths = m_drives.keys();
    for (const QDBusObjectPath &path : oldPaths) {
        if (scan->listed.contains(path))
            continue;
        // A drive being written or restored goes only when UDisks2 drops its
        // object: what the helper does to it shows up in the scans meanwhile.
        if (m_drives.value(path)->isBusy() && scan->objects.contains(path))
            continue;
        removeDrive(path);
    }
    m_scan.reset();

    m_initialized = true;
    emit initializedChanged();
}

void LinuxDriveProvider::classify(Scan &scan) const
{
    for (auto it = scan.objects.cbegin(); it != scan.objects.cend(); ++it) {
        if (!it.key().path().startsWith(Udisks2::blockDevicesPath()))
            continue;
        scan.blocks.append(it.key());
        const QVariantHash block = it.value().value(Udisks2::blockInterface());
        scan.byKernelName.insert(kernelNameOf(block), it.key());
        const QList<QByteArray> mountPoints = mountPointsOf(it.value());
        for (const QByteArray &mountPoint : mountPoints)
            scan.mounts.append({ mountPoint, it.key() });
        if (!it.value().contains(Udisks2::partitionInterface()))
            continue;
        const QString table = it.value()
                                  .value(Udisks2::partitionInterface())
                                  .value(QStringLiteral("Table"))
                                  .value<QDBusObjectPath>()
                                  .path();
        scan.partitionTypes[table].append(block.value(QStringLiteral("IdType")).toString());
    }

    QHash<QString, int> ranks;
    for (const QDBusObjectPath &path : std::as_const(scan.blocks)) {
        const SystemUse use = systemUseOf(scan.objects.value(path));
        if (use.rank == 0)
            continue;
        const QSet<QString> drives = drivesUnder(scan, path);
        for (const QString &drive : drives) {
            if (ranks.value(drive) >= use.rank)
                continue;
            ranks.insert(drive, use.rank);
            scan.systemDrives.insert(drive, use.why);
        }
    }
}

QSet<QString> LinuxDriveProvider::drivesUnder(const Scan &scan, const QDBusObjectPath &top) const
{
    // The block object whose filesystem holds a file: the deepest mount
    // point above it.
    const auto holderOf = [&scan](const QByteArray &file) {
        QDBusObjectPath holder;
        qsizetype longest = -1;
        for (const auto &[mountPoint, path] : scan.mounts) {
            if (mountPoint.size() > longest && isUnder(file, mountPoint)) {
                longest = mountPoint.size();
                holder = path;
            }
        }
        return holder;
    };

    QSet<QString> drives;
    QSet<QString> seen;
    QStringList pending { top.path() };
    while (!pending.isEmpty()) {
        const QString path = pending.takeFirst();
        if (path.isEmpty() || seen.contains(path))
            continue;
        seen.insert(path);
        const auto object = scan.objects.constFind(QDBusObjectPath(path));
        if (object == scan.objects.cend())
            continue;
        const InterfacesAndProperties &interfaces = object.value();
        const QVariantHash block = interfaces.value(Udisks2::blockInterface());
        const QString kernelName = kernelNameOf(block);
        const QString drive = objectPathOf(block.value(QStringLiteral("Drive")));
        if (!drive.isEmpty())
            drives.insert(drive);

        pending.append(objectPathOf(block.value(QStringLiteral("CryptoBackingDevice"))));
        QList<QByteArray> files;
        const QByteArray loopFile
            = untilNul(interfaces.value(Udisks2::loopInterface()).value(QStringLiteral("BackingFile")).toByteArray());
        if (!loopFile.isEmpty())
            files.append(loopFile);
        const BlockStack stack = BlockStack::of(m_sysfsRoot, kernelName);
        for (const QString &device : stack.devices) {
            if (device != kernelName)
                pending.append(scan.byKernelName.value(device).path());
        }
        for (const QString &file : stack.backingFiles)
            files.append(file.toUtf8());
        for (const QByteArray &file : std::as_const(files))
            pending.append(holderOf(file).path());
    }
    return drives;
}

QDBusObjectPath LinuxDriveProvider::handleObject(const QDBusObjectPath &object_path,
                                                 const InterfacesAndProperties &interfaces_and_properties,
                                                 const QStringList &partitionTypes, const QVariantHash &driveProperties,
                                                 const QHash<QString, QString> &systemDrives)
{
    if (interfaces_and_properties.contains(Udisks2::partitionInterface()) || !isWholeDiskPath(object_path.path()))
        return {};
    const QVariantHash block = interfaces_and_properties.value(Udisks2::blockInterface());
    const QString drivePath = objectPathOf(block.value(QStringLiteral("Drive")));
    // When in doubt, not listed: also when the reply lacks the drive object.
    if (drivePath.isEmpty() || driveProperties.isEmpty())
        return {};

    const bool removable = driveProperties.value(QStringLiteral("Removable")).toBool();
    const bool optical = driveProperties.value(QStringLiteral("Optical")).toBool();
    const bool mediaAvailable = driveProperties.value(QStringLiteral("MediaAvailable")).toBool();
    const QString connectionBus = driveProperties.value(QStringLiteral("ConnectionBus")).toString().toLower();
    const QString vendor = driveProperties.value(QStringLiteral("Vendor")).toString();
    const QString model = driveProperties.value(QStringLiteral("Model")).toString();
    const quint64 size = driveProperties.value(QStringLiteral("Size")).toULongLong();
    // UDisks2 calls every MMC device removable, a soldered-in eMMC too; only
    // SD cards are cards a user plugs in.
    const QStringList compatibility = driveProperties.value(QStringLiteral("MediaCompatibility")).toStringList();
    const bool embedded = object_path.path().startsWith(Udisks2::blockDevicesPath() + QStringLiteral("/mmcblk"))
        && compatibility.contains(QStringLiteral("flash_mmc")) && !compatibility.contains(QStringLiteral("flash_sd"));
    const QString systemUse = systemDrives.value(drivePath);
    const bool system = !systemUse.isEmpty();

    const bool offerable
        = mediaAvailable && !optical && (removable || connectionBus == QLatin1String("usb")) && !embedded;
    const bool acceptable = offerable && !system;
    const bool containsLive = containsLiveLayout(interfaces_and_properties, partitionTypes);
    const bool liveImage = isLiveImageFilesystem(block.value(QStringLiteral("IdType")).toString())
        || std::any_of(partitionTypes.cbegin(), partitionTypes.cend(), isLiveImageFilesystem);

    QString name;
    if (vendor.isEmpty() && model.isEmpty())
        name = QString::fromUtf8(untilNul(block.value(QStringLiteral("Device")).toByteArray()));
    else if (vendor.isEmpty())
        name = model;
    else if (model.isEmpty())
        name = vendor;
    else
        name = QStringLiteral("%1 %2").arg(vendor, model);

    if (MessageHandler::category().isDebugEnabled()) {
        QDebug line = QMessageLogger().debug(MessageHandler::category());
        line << metaObject()->className() << "New drive" << drivePath << "-" << name << "(" << size << "bytes;"
             << (acceptable ? "removable;" : "nonremovable;") << connectionBus;
        if (embedded)
            line << "; embedded";
        if (containsLive)
            line << "; contains live";
        if (liveImage)
            line << "; live image";
        line << ")";
    }
    if (offerable && system) {
        qCDebug(MessageHandler::category) << metaObject()->className() << "Leaving out" << drivePath << "-" << name
                                          << "- the system uses it:" << systemUse;
    }
    if (!acceptable)
        return {};

    if (LinuxDrive *drive = m_drives.value(object_path)) {
        drive->setCarriesLiveImage(liveImage);
        drive->updateDrive(name, size, containsLive);
        return object_path;
    }
    auto *drive = new LinuxDrive(this, object_path.path(), name, size, containsLive);
    drive->setCarriesLiveImage(liveImage);
    m_drives.insert(object_path, drive);
    emit driveConnected(drive);
    return object_path;
}

void LinuxDriveProvider::removeDrive(const QDBusObjectPath &path)
{
    LinuxDrive *drive = m_drives.take(path);
    if (!drive)
        return;
    emit driveRemoved(drive);
    drive->deleteLater();
}

void LinuxDriveProvider::onInterfacesAdded(const QDBusObjectPath &object_path,
                                           const InterfacesAndProperties &interfaces_and_properties)
{
    Q_UNUSED(object_path)
    if (interfaces_and_properties.contains(Udisks2::blockInterface()))
        requestManagedObjects();
}

void LinuxDriveProvider::onInterfacesRemoved(const QDBusObjectPath &object_path, const QStringList &interfaces)
{
    if (interfaces.contains(Udisks2::blockInterface())) {
        if (!m_drives.contains(object_path))
            return;
        qCDebug(MessageHandler::category) << metaObject()->className() << "Drive at" << object_path.path() << "removed";
        removeDrive(object_path);
        requestManagedObjects();
    } else if (interfaces.contains(Udisks2::partitionInterface())) {
        requestManagedObjects();
    }
}

void LinuxDriveProvider::onPropertiesChanged(const QString &interface_name, const QVariantMap &changed_properties,
                                             const QStringList &invalidated_properties)
{
    Q_UNUSED(interface_name)
    // What decides whether and how a drive is listed: its medium, its size,
    // its layout, and whether the system runs from it.
    static const QStringList relevant { QStringLiteral("MediaAvailable"), QStringLiteral("Size"),
                                        QStringLiteral("IdType"), QStringLiteral("MountPoints"),
                                        QStringLiteral("Active") };
    for (const QString &property : relevant) {
        if (changed_properties.contains(property) || invalidated_properties.contains(property)) {
            requestManagedObjects();
            return;
        }
    }
}
