#include "udisksfixture.h"

#include "buildpaths.h"
#include "programrun.h"
#include "udisks2names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int objectTimeoutMs = 20000;

QString defaultStateDir()
{
    const QByteArray fromEnvironment = qgetenv("FLASHWRIGHT_UDISKS_STATE");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    return QStringLiteral(FLASHWRIGHT_BUILD_DIR "/udisks-state");
}

QString readLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}
} // namespace

UdisksFixture::UdisksFixture()
    : m_stateDir(defaultStateDir())
{
    m_skipReason = readLine(m_stateDir + QStringLiteral("/skip"));
    if (!m_skipReason.isEmpty())
        return;
    m_busAddress = readLine(m_stateDir + QStringLiteral("/bus-address"));
    if (m_busAddress.isEmpty()) {
        m_skipReason = QStringLiteral("udisksd is not running: the ctest fixture 'udisks' starts it "
                                      "(or tests/support/udisks-fixture.sh start %1)")
                           .arg(m_stateDir);
        return;
    }
    QDir().mkpath(scratchDir());
}

UdisksFixture::~UdisksFixture()
{
    for (const QString &mountPoint : std::as_const(m_mounts)) {
        if (isMounted(mountPoint))
            run(QStringLiteral("umount"), { QStringLiteral("-l"), mountPoint });
        QDir().rmdir(mountPoint);
        forget(QStringLiteral("mounts"), mountPoint);
    }
    const QList<LoopDevice> devices = m_devices;
    for (const LoopDevice &device : devices)
        detach(device);
}

QString UdisksFixture::scratchDir() const
{
    return m_stateDir + QStringLiteral("/scratch");
}

void UdisksFixture::record(const QString &file, const QString &line)
{
    QFile list(m_stateDir + QLatin1Char('/') + file);
    if (list.open(QIODevice::Append))
        list.write(line.toUtf8() + '\n');
}

void UdisksFixture::forget(const QString &file, const QString &line)
{
    QFile list(m_stateDir + QLatin1Char('/') + file);
    if (!list.open(QIODevice::ReadOnly))
        return;
    QByteArrayList kept = list.readAll().split('\n');
    list.close();
    kept.removeAll(line.toUtf8());
    kept.removeAll(QByteArray());
    if (list.open(QIODevice::WriteOnly | QIODevice::Truncate))
        list.write(kept.isEmpty() ? QByteArray() : kept.join('\n') + '\n');
}

bool UdisksFixture::run(const QString &program, const QStringList &arguments, QByteArray *output)
{
    const ProgramResult result = ProgramRun(program, arguments).environment(helperEnvironment()).run();
    if (output)
        *output = result.standardOutput;
    if (!result.succeeded())
        m_errorString
            = QStringLiteral("%1 %2 failed: %3").arg(program, arguments.join(QLatin1Char(' ')), result.describe());
    return result.succeeded();
}

UdisksFixture::LoopDevice UdisksFixture::attach(qint64 size)
{
    static int counter = 0;
    const QString path = QStringLiteral("%1/loop-%2-%3.img").arg(scratchDir()).arg(getpid()).arg(++counter);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size)) {
        m_errorString = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return {};
    }
    file.close();
    return attachFile(path);
}

UdisksFixture::LoopDevice UdisksFixture::attachFile(const QString &backingFile)
{
    QByteArray output;
    if (!run(QStringLiteral("losetup"),
             { QStringLiteral("--find"), QStringLiteral("--show"), QStringLiteral("--partscan"), backingFile },
             &output))
        return {};
    LoopDevice device;
    device.node = QString::fromUtf8(output).trimmed();
    device.objectPath = Udisks2::blockDevicesPath() + QLatin1Char('/') + QFileInfo(device.node).fileName();
    device.backingFile = QFileInfo(backingFile).absoluteFilePath();
    record(QStringLiteral("loops"), device.node + QLatin1Char(' ') + device.backingFile);
    m_devices.append(device);
    if (!waitForObject(device.objectPath))
        return {};
    return device;
}

bool UdisksFixture::detach(const LoopDevice &device)
{
    if (!device.isValid())
        return false;
    // Whatever is still mounted from it (a test that failed halfway) goes first.
    QFile mounts(QStringLiteral("/proc/mounts"));
    if (mounts.open(QIODevice::ReadOnly)) {
        const QRegularExpression ours(QStringLiteral("^%1(p\\d+)?$").arg(QRegularExpression::escape(device.node)));
        const QByteArrayList lines = mounts.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() > 1 && ours.match(QString::fromUtf8(fields.at(0))).hasMatch())
                run(QStringLiteral("umount"), { QStringLiteral("-l"), QString::fromUtf8(fields.at(1)) });
        }
    }
    const bool detached = run(QStringLiteral("losetup"), { QStringLiteral("-d"), device.node });
    QFile::remove(device.backingFile);
    forget(QStringLiteral("loops"), device.node + QLatin1Char(' ') + device.backingFile);
    m_devices.removeIf([&](const LoopDevice &d) { return d.node == device.node; });
    return detached;
}

bool UdisksFixture::addPartitions(const LoopDevice &device, int count)
{
    // Fails harmlessly when the kernel already knows them.
    run(QStringLiteral("partx"), { QStringLiteral("--add"), device.node });
    for (int number = 1; number <= count; ++number) {
        if (!waitForObject(device.partitionObjectPath(number)))
            return false;
    }
    return true;
}

QString UdisksFixture::mount(const QString &node, const QString &objectPath)
{
    static int counter = 0;
    const QString mountPoint = QStringLiteral("%1/mnt-%2-%3").arg(m_stateDir).arg(getpid()).arg(++counter);
    QDir().mkpath(mountPoint);
    if (!run(QStringLiteral("mount"), { node, mountPoint }))
        return QString();
    record(QStringLiteral("mounts"), mountPoint);
    m_mounts.append(mountPoint);

    // udisksd learns of the mount from the mount table a moment later, and
    // refuses to unmount what it does not know to be mounted.
    QByteArray value;
    if (QTest::qWaitFor(
            [&] {
                return udisksProperty(objectPath, Udisks2::filesystemInterface(),
                                      QStringLiteral("MountPoints"), &value)
                    && value.contains(mountPoint.toUtf8());
            },
            objectTimeoutMs))
        return mountPoint;
    m_errorString = QStringLiteral("udisksd did not notice the mount of %1 on %2").arg(node, mountPoint);
    return QString();
}

bool UdisksFixture::isMounted(const QString &mountPoint)
{
    QFile mounts(QStringLiteral("/proc/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    const QByteArrayList lines = mounts.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 1 && fields.at(1) == mountPoint.toUtf8())
            return true;
    }
    return false;
}

bool UdisksFixture::udisksProperty(const QString &objectPath, const QString &interface, const QString &property,
                                   QByteArray *value)
{
    const ProgramResult result
        = ProgramRun(QStringLiteral("dbus-send"),
                     { QStringLiteral("--system"), QStringLiteral("--print-reply=literal"),
                       QStringLiteral("--dest=") + Udisks2::service(), objectPath,
                       QStringLiteral("org.freedesktop.DBus.Properties.Get"), QStringLiteral("string:") + interface,
                       QStringLiteral("string:") + property })
              .environment(helperEnvironment())
              .timeout(10000)
              .run();
    *value = result.standardOutput;
    return result.succeeded();
}

bool UdisksFixture::waitForObject(const QString &objectPath)
{
    run(QStringLiteral("udevadm"), { QStringLiteral("settle"), QStringLiteral("--timeout=10") });
    QByteArray value;
    if (QTest::qWaitFor(
            [&] {
                return udisksProperty(objectPath, Udisks2::blockInterface(),
                                      QStringLiteral("Size"), &value)
                    && !value.trimmed().endsWith(" 0");
            },
            objectTimeoutMs))
        return true;
    m_errorString = QStringLiteral("udisksd did not show %1").arg(objectPath);
    return false;
}

QProcessEnvironment UdisksFixture::helperEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("C"));
    return environment;
}

UdisksFixture::Result UdisksFixture::runHelper(const QStringList &arguments, int timeoutMs) const
{
    return ProgramRun(BuildPaths::helper(), arguments).environment(helperEnvironment()).timeout(timeoutMs).run();
}

QByteArray UdisksFixture::readDevice(const QString &node, qint64 offset, qint64 size)
{
    QFile file(node);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return QByteArray();
    return file.read(size);
}

bool UdisksFixture::writeDevice(const QString &node, qint64 offset, const QByteArray &data)
{
    QFile file(node);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(offset) || file.write(data) != data.size())
        return false;
    file.flush();
    return fsync(file.handle()) == 0;
}
