#include "restorejob.h"

#include "interfacewaiter.h"
#include "udisks2names.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QTimer>
#include <QVariantHash>

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {
// What is wiped at each end of the drive: enough to take every partition
// table, boot sector and filesystem signature of a live image with it.
// Never more than half the drive, so that the two ends do not overrun it.
constexpr off_t WipeBytes = off_t(512) << 20;
// UDisks2 answers Format and CreatePartition once the work is done; on a
// large, slow card that takes minutes, and a polkit dialog waits for the
// person too. No answer within this is a failure, not a success.
constexpr int PartitioningTimeoutMs = 10 * 60 * 1000;
// How long UDisks2 may take to show what it made (see InterfaceWaiter).
constexpr int AppearanceTimeoutMs = 20000;

// Writes zeros over [offset, offset + length), one buffer per call; length
// is a multiple of the device's logical block size.
bool wipe(int fd, const char *zeros, std::size_t bufferSize, off_t offset, off_t length)
{
    for (off_t done = 0; done < length;) {
        const auto size = std::size_t(std::min<off_t>(off_t(bufferSize), length - done));
        const ssize_t written = ::pwrite(fd, zeros, size, offset + done);
        if (written < 0 || std::size_t(written) != size)
            return false;
        done += off_t(size);
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
        fail(tr("Failed to open device for writing"), ExitStatus::WipingFailed);
        return;
    }

    const off_t size = lseek(fd, 0, SEEK_END);
    if (size <= 0) {
        fail(tr("Failed to get file size"), ExitStatus::WipingFailed);
        return;
    }
    const auto blockSize = off_t(logicalBlockSize(fd));
    const off_t region = std::min(WipeBytes, size / 2 / blockSize * blockSize);

    auto [owner, buffer, bufferSize] = pageAlignedBuffer(1024);
    std::memset(buffer, 0, bufferSize);
    if (!wipe(fd, buffer, bufferSize, 0, region) || !wipe(fd, buffer, bufferSize, size - region, region)) {
        fail(tr("Destination drive is not writable"), ExitStatus::WipingFailed);
        return;
    }
    if (fsync(fd) != 0) {
        fail(tr("Failed to sync data to disk"), ExitStatus::WipingFailed);
        return;
    }
    // The device is open exclusively: UDisks2's partitioning and formatting
    // tools could not open it while it stays so.
    m_fd = QDBusUnixFileDescriptor();

    const QDBusMessage table
        = callUdisks(m_device, Udisks2::blockInterface(), QStringLiteral("Format"),
                     { QStringLiteral("gpt"), QVariant::fromValue(QVariantHash()) }, PartitioningTimeoutMs);
    if (table.type() != QDBusMessage::ReplyMessage) {
        fail(table.errorMessage() + QLatin1Char('\n'), ExitStatus::WipingFailed);
        return;
    }
    if (!InterfaceWaiter(m_device, Udisks2::partitionTableInterface()).wait(AppearanceTimeoutMs)) {
        fail(tr("The new partition table did not appear on the drive.") + QLatin1Char('\n'), ExitStatus::WipingFailed);
        return;
    }

    const QDBusReply<QDBusObjectPath> partition
        = callUdisks(m_device, Udisks2::partitionTableInterface(), QStringLiteral("CreatePartition"),
                     { QVariant::fromValue(quint64(1)), QVariant::fromValue(quint64(0)), QString(), QString(),
                       QVariant::fromValue(QVariantHash()) },
                     PartitioningTimeoutMs);
    if (!partition.isValid()) {
        fail(partition.error().message(), ExitStatus::PartitioningFailed);
        return;
    }
    const QString partitionPath = partition.value().path();
    if (!InterfaceWaiter(partitionPath, Udisks2::blockInterface()).wait(AppearanceTimeoutMs)) {
        fail(tr("The new partition did not appear on the drive."), ExitStatus::PartitioningFailed);
        return;
    }

    const QDBusMessage filesystem
        = callUdisks(partitionPath, Udisks2::blockInterface(), QStringLiteral("Format"),
                     { QStringLiteral("exfat"),
                       QVariant::fromValue(QVariantHash { { QStringLiteral("update-partition-type"), true } }) },
                     PartitioningTimeoutMs);
    if (filesystem.type() != QDBusMessage::ReplyMessage) {
        fail(filesystem.errorMessage() + QLatin1Char('\n'), ExitStatus::FormattingFailed);
        return;
    }

    m_err.flush();
    exitWith(ExitStatus::Success);
}
