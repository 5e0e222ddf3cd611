#include "job.h"

#include "dbustypes.h"
#include "udisks2names.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantHash>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
// UDisks2 2.9 answers an open that the kernel refuses with EBUSY as a
// generic failure whose text ends in the daemon's strerror; later versions
// may name it.
bool isBusy(const QDBusError &error)
{
    if (error.name() == Udisks2::deviceBusyError())
        return true;
    if (error.name() != Udisks2::failedError())
        return false;
    const QString message = error.message();
    return message.endsWith(QLatin1String(": Device or resource busy"))
        || message.endsWith(QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(EBUSY)));
}

QString objectPathProperty(const InterfacesAndProperties &interfaces, const QString &interface, const QString &property)
{
    return interfaces.value(interface).value(property).value<QDBusObjectPath>().path();
}
} // namespace

std::size_t logicalBlockSize(int fd)
{
    int size = 0;
    if (ioctl(fd, BLKSSZGET, &size) != 0 || size <= 0)
        return 512;
    return static_cast<std::size_t>(size);
}

Job::Job(const QString &device)
    : Job(QString(), device)
{ }

Job::Job(const QString &image, const QString &device)
    : m_image(image)
    , m_device(device)
    , m_out(stdout)
    , m_err(stderr)
    , m_fd(-1)
{
    qDBusRegisterMetaType<QHash<QString, QVariant>>();
    qDBusRegisterMetaType<InterfacesAndProperties>();
    qDBusRegisterMetaType<DBusIntrospection>();
}

QDBusMessage Job::callUdisks(const QString &path, const QString &interface, const QString &method,
                             const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Udisks2::service(), path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, timeoutMs);
}

void Job::fail(const QString &message, ExitStatus status)
{
    m_err << message;
    m_err.flush();
    exitWith(status);
}

void Job::exitWith(ExitStatus status)
{
    QCoreApplication::exit(HelperProtocol::exitCode(status));
}

QDBusUnixFileDescriptor Job::getDescriptor()
{
    const QDBusMessage drive = callUdisks(m_device, Udisks2::propertiesInterface(), QStringLiteral("Get"),
                                          { Udisks2::blockInterface(), QStringLiteral("Drive") });
    const QString drivePath
        = drive.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();

    if (!unmountFilesystems(drivePath))
        return QDBusUnixFileDescriptor(-1);

    // O_EXCL: no filesystem, no other writer and no second helper can have
    // the device while this one writes it, and none can take it meanwhile.
    const QVariantHash options { { QStringLiteral("flags"), int(O_DIRECT | O_SYNC | O_CLOEXEC | O_EXCL) } };
    const QDBusReply<QDBusUnixFileDescriptor> reply
        = callUdisks(m_device, Udisks2::blockInterface(), QStringLiteral("OpenDevice"),
                     { QStringLiteral("rw"), QVariant::fromValue(options) });
    if (reply.isValid() && reply.value().isValid())
        return reply.value();

    if (isBusy(reply.error()))
        fail(tr("The drive is in use by another program. Close that program and try again."), ExitStatus::OpeningFailed);
    else
        fail(reply.error().message(), ExitStatus::OpeningFailed);
    return QDBusUnixFileDescriptor(-1);
}

bool Job::unmountFilesystems(const QString &drivePath)
{
    const QDBusMessage reply
        = callUdisks(Udisks2::rootPath(), Udisks2::objectManagerInterface(), QStringLiteral("GetManagedObjects"));
    // An error reply carries its message as its one argument.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        fail(reply.errorMessage(), ExitStatus::OpeningFailed);
        return false;
    }

    // Loop devices, and on real systems device-mapper, LVM and LUKS volumes,
    // have no drive object ("/"); matching by drive would then unmount every
    // such volume of the machine, so only the target and its partitions count.
    const bool byDrive = !drivePath.isEmpty() && drivePath != QLatin1String("/");
    const auto objects = qdbus_cast<DBusIntrospection>(reply.arguments().constFirst());
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const InterfacesAndProperties &interfaces = it.value();
        if (!interfaces.contains(Udisks2::filesystemInterface()))
            continue;
        const bool onTarget = byDrive
            ? objectPathProperty(interfaces, Udisks2::blockInterface(), QStringLiteral("Drive")) == drivePath
            : (it.key().path() == m_device
               || objectPathProperty(interfaces, Udisks2::partitionInterface(), QStringLiteral("Table")) == m_device);
        if (!onTarget)
            continue;
        // Never forced: UDisks2 then detaches a busy filesystem lazily, and it
        // lives on and writes its metadata over the image after it is written.
        const QDBusMessage unmounted = callUdisks(it.key().path(), Udisks2::filesystemInterface(),
                                                  QStringLiteral("Unmount"), { QVariant::fromValue(QVariantHash()) });
        if (unmounted.type() == QDBusMessage::ErrorMessage && unmounted.errorName() != Udisks2::notMountedError()) {
            fail(tr("The drive could not be unmounted: %1").arg(unmounted.errorMessage()), ExitStatus::OpeningFailed);
            return false;
        }
    }
    return true;
}
