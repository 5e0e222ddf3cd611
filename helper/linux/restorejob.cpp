#include "restorejob.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QTimer>
#include <QVariantHash>

#include <cstring>
#include <unistd.h>

namespace {
const QString blockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
constexpr int wipeBlocks = 128;

bool wipe(int fd, const char *buffer, std::size_t size)
{
    for (int i = 0; i < wipeBlocks; ++i) {
        const ssize_t written = ::write(fd, buffer, size);
        if (written < 0 || std::size_t(written) != size)
            return false;
    }
    return true;
}
} // namespace

RestoreJob::RestoreJob(const QString &device)
    : Job(device)
{
    QTimer::singleShot(0, this, &RestoreJob::work);
}

RestoreJob::~RestoreJob() = default;

void RestoreJob::work()
{
    m_fd = getDescriptor();
    const int fd = m_fd.fileDescriptor();
    if (fd < 0) {
        fail(tr("Failed to open device for writing"), 1);
        return;
    }

    auto [owner, buffer, blockSize] = pageAlignedBuffer(1024);
    std::memset(buffer, 0, blockSize);

    if (!wipe(fd, buffer, blockSize)) {
        fail(tr("Destination drive is not writable"), 1);
        return;
    }
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0) {
        fail(tr("Failed to get file size"), 1);
        return;
    }
    const off_t start = size - off_t(wipeBlocks) * off_t(blockSize);
    if (start < 0) {
        fail(tr("File size is smaller than 128 blocks"), 1);
        return;
    }
    if (lseek(fd, start, SEEK_SET) < 0) {
        fail(tr("Failed to move file pointer to the end region"), 1);
        return;
    }
    if (!wipe(fd, buffer, blockSize)) {
        fail(tr("Destination drive is not writable"), 1);
        return;
    }
    if (fsync(fd) != 0) {
        fail(tr("Failed to sync data to disk"), 1);
        return;
    }
    // The device is open exclusively: UDisks2's partitioning and formatting
    // tools could not open it while it stays so.
    m_fd = QDBusUnixFileDescriptor();

    // UDisks2 may answer Format on a slow stick only after the bus timeout;
    // the work goes on there, so NoReply counts as done.
    const QDBusMessage table = callUdisks(m_device, blockInterface, QStringLiteral("Format"),
                                          { QStringLiteral("gpt"), QVariant::fromValue(QVariantHash()) });
    if (table.type() == QDBusMessage::ErrorMessage && QDBusError(table).type() != QDBusError::NoReply) {
        fail(table.errorMessage() + QLatin1Char('\n'), 1);
        return;
    }

    const QDBusReply<QDBusObjectPath> partition = callUdisks(
        m_device, QStringLiteral("org.freedesktop.UDisks2.PartitionTable"), QStringLiteral("CreatePartition"),
        { QVariant::fromValue(quint64(1)), QVariant::fromValue(quint64(0)), QString(), QString(),
          QVariant::fromValue(QVariantHash()) });
    if (!partition.isValid()) {
        fail(partition.error().message(), 2);
        return;
    }

    const QDBusMessage filesystem
        = callUdisks(partition.value().path(), blockInterface, QStringLiteral("Format"),
                     { QStringLiteral("exfat"),
                       QVariant::fromValue(QVariantHash { { QStringLiteral("update-partition-type"), true } }) });
    if (filesystem.type() == QDBusMessage::ErrorMessage && QDBusError(filesystem).type() != QDBusError::NoReply) {
        fail(filesystem.errorMessage() + QLatin1Char('\n'), 3);
        return;
    }

    m_err.flush();
    QCoreApplication::exit(0);
}
