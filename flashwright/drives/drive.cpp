#include "drive.h"

#include "driveprovider.h"
#include "imagesize.h"
#include "isovolume.h"
#include "messagehandler.h"
#include "progress.h"
#include "releasevariant.h"

#include <QFile>
#include <QMetaEnum>

#include <fcntl.h>
#include <unistd.h>

namespace {
// What an image file tells of itself from a few reads: its size, the ISO
// volume descriptor at 32 KiB, or the index at the end of an .xz file.
struct ImageFacts
{
    // The bytes that writing it puts on the drive; -1 when unknown.
    qint64 dataSize = -1;
    // An ISO image shorter than the volume it declares: cut off.
    bool truncated = false;
};

ImageFacts inspect(const QString &path)
{
    ImageFacts facts;
    if (path.isEmpty())
        return facts;
    // Not blocking: a named pipe chosen as the image must not hang the window.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return facts;
    const ReceivedSize received = receivedSize(fd, path);
    facts.dataSize = received.bytes;
    if (!received.compressed && received.bytes >= 0) {
        IsoVolume volume;
        facts.truncated = IsoVolume::find(fd, volume) && volume.size() > received.bytes;
    }
    ::close(fd);
    return facts;
}
} // namespace

Drive::Drive(DriveProvider *parent, const QString &name, quint64 size, bool containsLive)
    : QObject(parent)
    , m_progress(new Progress(this, 0.0, 1.0))
    , m_name(name)
    , m_size(size)
    , m_restoreStatus(containsLive ? CONTAINS_LIVE : CLEAN)
{ }

void Drive::updateDrive(const QString &name, quint64 size, bool containsLive)
{
    if (name != m_name || size != m_size) {
        m_name = name;
        m_size = size;
        emit infoChanged();
    }
    // A restore's outcome stays on show; only an idle drive follows the scans.
    if (m_restoreStatus == CLEAN || m_restoreStatus == CONTAINS_LIVE)
        setRestoreStatus(containsLive ? CONTAINS_LIVE : CLEAN);
}

QString Drive::name() const
{
    return QStringLiteral("%1 (%2)").arg(m_name, readableSize());
}

QString Drive::readableSize() const
{
    const quint64 n = m_size;
    const auto oneDecimal = [n](double divisor, const char *unit) {
        return QStringLiteral("%1 %2").arg(QString::number(double(n) / divisor, 'f', 1), QLatin1String(unit));
    };
    if (n < 1000ULL)
        return QStringLiteral("%1 B").arg(n);
    if (n < 1000000ULL)
        return oneDecimal(1e3, "KB");
    if (n < 1000000000ULL)
        return oneDecimal(1e6, "MB");
    if (n < 1000000000000ULL)
        return oneDecimal(1e9, "GB");
    if (n < 1000000000000000ULL)
        return oneDecimal(1e12, "TB");
    // The largest unit keeps the divisor of the one before it.
    return oneDecimal(1e15, "EB");
}

double Drive::size() const
{
    return double(m_size);
}

Drive::RestoreStatus Drive::restoreStatus()
{
    return m_restoreStatus;
}

bool Drive::delayedWrite() const
{
    return m_delayedWrite;
}

void Drive::setDelayedWrite(const bool &o)
{
    if (o == m_delayedWrite)
        return;
    m_delayedWrite = o;
    emit delayedWriteChanged();
    if (o)
        write(image());
    else
        cancel();
}

void Drive::setImage(ReleaseVariant *data)
{
    setImagePointer(data);
    if (data)
        data->setErrorString(QString());
}

bool Drive::write(ReleaseVariant *data)
{
    setImage(data);
    if (!data)
        return false;

    // A finished image is looked at before the drive is touched; a download
    // still running is checked by the helper once it is complete.
    const ImageFacts facts = isWritable(data->status()) ? inspect(data->iso()) : ImageFacts();
    // What has to fit is the real (unpacked) size: an .xz file's own index
    // says it, otherwise the image's real size does, or failing that the file.
    qint64 realSize = data->realSize();
    if (isCompressedImage(data->iso()) ? facts.dataSize >= 0 : realSize <= 0)
        realSize = facts.dataSize;
    QString refusal;
    if (facts.dataSize == 0)
        refusal = tr("The image file is empty: there is nothing to write.");
    else if (facts.truncated)
        refusal = tr("The image file is incomplete: it is shorter than the ISO volume it describes.");
    else if (realSize > 0 && size() > 0 && double(realSize) > size())
        refusal = tr("This drive is not large enough.");
    if (refusal.isEmpty())
        return true;

    qCWarning(MessageHandler::category) << metaObject()->className() << "Not writing" << data->iso() << "to" << m_name
                                        << ":" << refusal;
    setDelayedWrite(false);
    data->setErrorString(refusal);
    // The page hides errors while an image is ready to write, so the
    // refusal would pass unseen. A download still running keeps its
    // status: it belongs to the download, and the error shows there.
    if (isWritable(data->status()))
        data->setStatus(ReleaseVariant::FAILED);
    return false;
}

bool Drive::isWritable(int status)
{
    switch (status) {
    case ReleaseVariant::READY:
    case ReleaseVariant::FAILED:
    case ReleaseVariant::FAILED_VERIFICATION:
    case ReleaseVariant::FINISHED:
        return true;
    default:
        return false;
    }
}

void Drive::cancel()
{
    m_delayedWrite = false;
    emit delayedWriteChanged();
    m_restoreStatus = CLEAN;
    emit restoreStatusChanged();
}

void Drive::setRestoreStatus(Drive::RestoreStatus o)
{
    if (o == m_restoreStatus)
        return;
    m_restoreStatus = o;
    logRestoreStatus();
    emit restoreStatusChanged();
}

void Drive::logRestoreStatus() const
{
    // The road of a restore in the verbose log, as an image's statuses are.
    qCDebug(MessageHandler::category) << metaObject()->className() << "Restore status of" << m_name << "now"
                                      << QMetaEnum::fromType<RestoreStatus>().valueToKey(m_restoreStatus);
}

bool Drive::operator==(const Drive &o) const
{
    return name() == o.name() && size() == o.size();
}

ReleaseVariant *Drive::image() const
{
    return m_image;
}

void Drive::setImagePointer(ReleaseVariant *data)
{
    m_image = data;
}

void Drive::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void Drive::clearDelayedWrite()
{
    if (!m_delayedWrite)
        return;
    m_delayedWrite = false;
    emit delayedWriteChanged();
}

void Drive::announceRestoreStatus(RestoreStatus o)
{
    m_restoreStatus = o;
    logRestoreStatus();
    emit restoreStatusChanged();
}
