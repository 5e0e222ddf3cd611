#include "writejob.h"

#include "implantedmd5.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <lzma.h>

#include <cstring>
#include <unistd.h>

namespace {
// The whole of size, reading again after short reads, so that only the end
// of the file yields less than a full buffer. -1 on a read error.
qint64 readFull(QFile &file, char *buffer, qint64 size)
{
    qint64 total = 0;
    while (total < size) {
        const qint64 count = file.read(buffer + total, size - total);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        total += count;
    }
    return total;
}
} // namespace

WriteJob::WriteJob(const QString &image, const QString &device)
    : Job(image, device)
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &WriteJob::onFileChanged);
    QTimer::singleShot(0, this, &WriteJob::work);
}

WriteJob::~WriteJob() = default;

void WriteJob::work()
{
    m_fd = getDescriptor();
    if (m_fd.fileDescriptor() < 0)
        return;
    m_blockSize = logicalBlockSize(m_fd.fileDescriptor());

    if (m_image.endsWith(QLatin1String(".part"))) {
        // The download may have finished between our start and this watch:
        // a file that is already gone would never be reported as changed.
        if (!m_watcher.addPath(m_image) || !QFileInfo::exists(m_image))
            onFileChanged(m_image);
        return;
    }

    if (write(m_fd.fileDescriptor()))
        check(m_fd.fileDescriptor());
}

void WriteJob::onFileChanged(const QString &path)
{
    if (QFileInfo::exists(path))
        return;

    // Decided once: a late notification for the same file must not start a second copy.
    disconnect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &WriteJob::onFileChanged);
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());

    m_image.chop(int(qstrlen(".part")));
    if (!QFileInfo::exists(m_image)) {
        QCoreApplication::exit(4);
        return;
    }

    m_out << "WRITE\n";
    m_out.flush();
    m_out << "1\n";
    m_out.flush();

    if (write(m_fd.fileDescriptor()))
        check(m_fd.fileDescriptor());
    else
        QCoreApplication::exit(4);
}

bool WriteJob::write(int fd)
{
    if (m_image.endsWith(QLatin1String(".xz")))
        return writeCompressed(fd);
    return writePlain(fd);
}

bool WriteJob::writeBlock(int fd, char *buffer, std::size_t length, std::size_t bufferSize)
{
    std::size_t padded = length;
    if (length % m_blockSize != 0) {
        padded = (length / m_blockSize + 1) * m_blockSize;
        if (padded > bufferSize)
            return false;
        std::memset(buffer + length, 0, padded - length);
    }
    const ssize_t written = ::write(fd, buffer, padded);
    return written >= 0 && std::size_t(written) == padded;
}

bool WriteJob::writePlain(int fd)
{
    QFile file(m_image);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(tr("Source image is not readable") + m_image, 2);
        return false;
    }

    auto [owner, buffer, bufferSize] = pageAlignedBuffer(1024);
    qint64 total = 0;
    for (;;) {
        const qint64 count = readFull(file, buffer, qint64(bufferSize));
        if (count < 0) {
            fail(tr("Source image is not readable"), 3);
            return false;
        }
        if (count == 0)
            break;
        if (!writeBlock(fd, buffer, std::size_t(count), bufferSize)) {
            fail(tr("Destination drive is not writable"), 3);
            return false;
        }
        total += count;
        m_out << total << '\n';
        m_out.flush();
    }

    file.close();
    sync();
    return true;
}

bool WriteJob::writeCompressed(int fd)
{
    auto [inOwner, inBuffer, bufferSize] = pageAlignedBuffer(1024);
    auto [outOwner, outBuffer, outSize] = pageAlignedBuffer(1024);
    Q_UNUSED(outSize)

    QFile file(m_image);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(tr("Source image is not readable") + m_image, 2);
        return false;
    }

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, 268435456, LZMA_CONCATENATED) != LZMA_OK) {
        fail(tr("Failed to start decompressing."), 4);
        return false;
    }
    // Frees the decoder on every way out.
    const std::unique_ptr<lzma_stream, void (*)(lzma_stream *)> decoder(&stream, lzma_end);

    stream.next_in = reinterpret_cast<const uint8_t *>(inBuffer);
    stream.avail_in = 0;
    stream.next_out = reinterpret_cast<uint8_t *>(outBuffer);
    stream.avail_out = bufferSize;
    qint64 total = 0;

    for (;;) {
        if (stream.avail_in == 0) {
            const qint64 count = readFull(file, inBuffer, qint64(bufferSize));
            if (count < 0) {
                fail(tr("Source image is not readable"), 3);
                return false;
            }
            total += count;
            stream.next_in = reinterpret_cast<const uint8_t *>(inBuffer);
            stream.avail_in = std::size_t(count);
            m_out << total << '\n';
            m_out.flush();
        }

        const lzma_ret result = lzma_code(&stream, stream.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
        if (result == LZMA_STREAM_END) {
            if (!writeBlock(fd, outBuffer, bufferSize - stream.avail_out, bufferSize)) {
                fail(tr("Destination drive is not writable"), 3);
                return false;
            }
            return true;
        }
        if (result != LZMA_OK) {
            switch (result) {
            case LZMA_MEM_ERROR:
                fail(tr("There is not enough memory to decompress the file."), 4);
                break;
            case LZMA_FORMAT_ERROR:
            case LZMA_DATA_ERROR:
            case LZMA_BUF_ERROR:
                fail(tr("The downloaded compressed file is corrupted."), 4);
                break;
            case LZMA_OPTIONS_ERROR:
                fail(tr("Unsupported compression options."), 4);
                break;
            default:
                fail(tr("Unknown decompression error."), 4);
                break;
            }
            return false;
        }
        if (stream.avail_out == 0) {
            if (!writeBlock(fd, outBuffer, bufferSize, bufferSize)) {
                fail(tr("Destination drive is not writable"), 3);
                return false;
            }
            stream.next_out = reinterpret_cast<uint8_t *>(outBuffer);
            stream.avail_out = bufferSize;
        }
    }
}

void WriteJob::check(int fd)
{
    m_out << "CHECK\n";
    m_out.flush();

    const int result = mediaCheckFD(fd, &WriteJob::staticOnMediaCheckAdvanced, this);
    if (result == 1 || result == -1) {
        m_out << "DONE\n";
        m_out.flush();
        m_err << "OK\n";
        m_err.flush();
        QCoreApplication::exit(0);
    } else if (result == 0) {
        fail(tr("Your drive is probably damaged.") + QLatin1Char('\n'), 1);
    } else {
        fail(tr("Unexpected error occurred during media check.") + QLatin1Char('\n'), 1);
    }
}

int WriteJob::staticOnMediaCheckAdvanced(void *data, long long offset, long long total)
{
    return static_cast<WriteJob *>(data)->onMediaCheckAdvanced(offset, total);
}

int WriteJob::onMediaCheckAdvanced(long long offset, long long total)
{
    Q_UNUSED(total)
    m_out << offset << '\n';
    m_out.flush();
    return 0;
}
