#include "writejob.h"

#include "decoder.h"
#include "devicewriter.h"
#include "imagesize.h"
#include "isovolume.h"
#include "prefetchreader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The start of an image that is searched for an ISO volume and an implanted
// checksum: the volume descriptors lie in its first few sectors after 32 KiB.
constexpr std::size_t HeadSize = 1 << 20;
// Read-back in aligned reads of 4 MiB, one ahead of the hashing, with a
// progress line for each as for each buffer copied. Larger reads were no
// faster on the drives measured, and slower on some.
constexpr std::size_t ReadBackChunk = 4 << 20;

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
    // A finished image is judged before the drive is unmounted or opened; a
    // download still running, once it is there.
    const bool delayed = m_image.endsWith(QLatin1String(".part"));
    if (!delayed && !checkImage())
        return;

    m_fd = getDescriptor();
    if (m_fd.fileDescriptor() < 0)
        return;
    m_blockSize = logicalBlockSize(m_fd.fileDescriptor());

    if (delayed) {
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
        exitWith(ExitStatus::DecompressionFailed);
        return;
    }
    if (!checkImage())
        return;

    m_out << HelperProtocol::Write << '\n';
    m_out.flush();
    m_out << "1\n";
    m_out.flush();

    if (write(m_fd.fileDescriptor()))
        check(m_fd.fileDescriptor());
    else if (!m_refused)
        exitWith(ExitStatus::DecompressionFailed);
}

bool WriteJob::checkImage()
{
    QFile file(m_image);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(tr("Source image is not readable") + m_image, ExitStatus::OpeningFailed);
        return false;
    }
    // The bytes decide; the name only when they show no format it knows:
    // a file named .xz that holds no xz fails as corrupted, as it did when
    // the name alone decided.
    const ImageFormat head = formatOfFile(file.handle());
    const ImageFormat named = formatOfPath(m_image);
    m_format = decodingFormat(head, named);
    m_unannounced = head != ImageFormat::Plain && named != head;
    if (m_format == ImageFormat::Zip && !checkArchive(file.handle()))
        return false;
    if (m_format != ImageFormat::Plain) {
        // Unknown (-1) when the file does not record it exactly: the decoder
        // then finds out what the file holds, and finishCopy() judges what
        // it wrote.
        const DecodedSize decoded = decodedSize(file.handle(), m_format);
        m_imageSize = decoded.exact ? decoded.bytes : -1;
        return acceptSizes();
    }
    // Only an ordinary file tells its length; a device or a file under /proc
    // reads as empty, and is judged once it has been read.
    struct stat status;
    if (fstat(file.handle(), &status) != 0 || !S_ISREG(status.st_mode))
        return true;
    m_imageSize = status.st_size;
    // Files under /proc tell a length of 0 whatever they hold.
    char byte;
    if (m_imageSize == 0 && file.read(&byte, 1) != 0)
        m_imageSize = -1;
    IsoVolume volume;
    if (IsoVolume::find(file.handle(), volume))
        m_volumeSize = volume.size();
    return acceptSizes();
}

bool WriteJob::checkArchive(int fd)
{
    if (!readZipDirectory(fd, m_entry)) {
        fail(tr("The downloaded compressed file is corrupted."), ExitStatus::DecompressionFailed);
        return false;
    }
    if (m_entry.files == 0) {
        fail(tr("The zip archive holds no file: there is nothing to write."), ExitStatus::DecompressionFailed);
        return false;
    }
    if (m_entry.files > 1) {
        fail(tr("The zip archive holds %1 files. Only an archive that holds exactly one file, the image, can be "
                "written: unpack it and choose the image.")
                 .arg(m_entry.files),
             ExitStatus::DecompressionFailed);
        return false;
    }
    if (m_entry.encrypted || (m_entry.method != 0 && m_entry.method != 8)) {
        fail(tr("Unsupported compression options."), ExitStatus::DecompressionFailed);
        return false;
    }
    return true;
}

bool WriteJob::acceptSizes()
{
    if (m_imageSize == 0) {
        refuse(tr("The image is empty: there is nothing to write."));
        return false;
    }
    // An interrupted download of an ISO: written, it would fail its check
    // and be blamed on the drive.
    if (m_imageSize > 0 && m_volumeSize > m_imageSize) {
        refuse(tr("The image file is incomplete: it is shorter than the ISO volume it describes."));
        return false;
    }
    return true;
}

void WriteJob::refuse(const QString &message)
{
    m_refused = true;
    fail(message, ExitStatus::OpeningFailed);
}

bool WriteJob::write(int fd)
{
    if (m_format != ImageFormat::Plain)
        return writeCompressed(fd);
    return writePlain(fd);
}

bool WriteJob::inspectHead(const char *data, std::size_t length)
{
    if (m_headSeen)
        return true;
    m_headSeen = true;
    const auto size = static_cast<long long>(std::min<std::size_t>(length, HeadSize));
    IsoVolume volume;
    if (IsoVolume::find(data, size, volume))
        m_volumeSize = volume.size();
    if (!acceptSizes())
        return false;
    m_checksum.start(data, size);
    return true;
}

void WriteJob::printWritten(DeviceWriter &writer)
{
    for (const long long total : writer.takeWritten()) {
        m_out << total << '\n';
        m_out.flush();
    }
}

bool WriteJob::finishCopy(DeviceWriter &writer)
{
    const bool written = writer.finish();
    printWritten(writer);
    // The device is synchronous, so this costs little; it still reports a
    // cache that failed to reach the medium, which no write did. A
    // descriptor that cannot be flushed at all (a pipe) has nothing pending.
    if (!written || (fsync(m_fd.fileDescriptor()) != 0 && errno != EINVAL && errno != EROFS)) {
        fail(tr("Destination drive is not writable"), ExitStatus::CopyingFailed);
        return false;
    }
    m_sent = writer.bytes();
    m_sentDigest = writer.digest();
    // What could not be told before: an image whose length was unknown
    // that held nothing, or less than its ISO volume.
    m_imageSize = m_sent;
    return acceptSizes();
}

bool WriteJob::writePlain(int fd)
{
    QFile file(m_image);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(tr("Source image is not readable") + m_image, ExitStatus::OpeningFailed);
        return false;
    }

    DeviceWriter writer(fd, m_blockSize, m_bufferPages);
    const auto bufferSize = qint64(writer.bufferSize());
    qint64 total = 0;
    for (;;) {
        char *buffer = writer.acquire();
        // Each total is printed once its buffer is on the device.
        printWritten(writer);
        if (!buffer) {
            fail(tr("Destination drive is not writable"), ExitStatus::CopyingFailed);
            return false;
        }
        const qint64 count = readFull(file, buffer, bufferSize);
        if (count < 0) {
            fail(tr("Source image is not readable"), ExitStatus::CopyingFailed);
            return false;
        }
        if (count == 0)
            break;
        if (!inspectHead(buffer, std::size_t(count)))
            return false;
        // The implanted check runs beside the copy (see DeviceWriter).
        if (total == 0 && m_checksum.hasChecksum())
            writer.followChecksum(&m_checksum);
        total += count;
        writer.submit(std::size_t(count), total);
    }
    return finishCopy(writer);
}

bool WriteJob::writeCompressed(int fd)
{
    auto [inOwner, inBuffer, inSize] = pageAlignedBuffer(m_bufferPages);

    QFile file(m_image);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        fail(tr("Source image is not readable") + m_image, ExitStatus::OpeningFailed);
        return false;
    }

    // Progress counts the bytes of the file read, as they are read; for a
    // zip archive those of its one file's data, which is all that is read.
    qint64 total = 0;
    // The bytes of the file that belong to the stream; -1 for all of them.
    qint64 remaining = -1;
    std::unique_ptr<Decoder> decoder;
    if (m_format == ImageFormat::Zip) {
        if (!file.seek(m_entry.dataOffset)) {
            fail(tr("Source image is not readable"), ExitStatus::CopyingFailed);
            return false;
        }
        total = m_entry.dataOffset;
        remaining = qint64(m_entry.compressedSize);
        decoder = Decoder::create(m_entry);
    } else {
        decoder = Decoder::create(m_format);
    }
    if (!decoder) {
        fail(tr("Failed to start decompressing."), ExitStatus::DecompressionFailed);
        return false;
    }
    // The xz decoder keeps the processors busy, so the implanted check's MD5
    // runs beside the read-back instead of the copy: a 1 GiB ISO as xz took
    // 6.46 s so, and 6.86 s with MD5 beside the copy (medians of 3).

    DeviceWriter writer(fd, m_blockSize, m_bufferPages);
    const std::size_t outSize = writer.bufferSize();
    char *outBuffer = writer.acquire();
    Decoder::Buffers buffers;
    buffers.out = reinterpret_cast<uint8_t *>(outBuffer);
    buffers.outSpace = outSize;
    bool inputEnded = false;

    for (;;) {
        // Every pass that finds the input used up prints the total, also
        // while the decoder drains after the end of the file: the total
        // then repeats, as it always has for xz images.
        if (buffers.inLength == 0) {
            if (!inputEnded) {
                const qint64 wanted = remaining < 0 ? qint64(inSize) : std::min(qint64(inSize), remaining);
                const qint64 count = readFull(file, inBuffer, wanted);
                if (count < 0) {
                    fail(tr("Source image is not readable"), ExitStatus::CopyingFailed);
                    return false;
                }
                total += count;
                if (remaining >= 0)
                    remaining -= count;
                // readFull() stops short only at the end of the file.
                inputEnded = count < wanted || remaining == 0;
                buffers.in = reinterpret_cast<const uint8_t *>(inBuffer);
                buffers.inLength = std::size_t(count);
            }
            m_out << total << '\n';
            m_out.flush();
        }

        const Decoder::Result result = decoder->decode(buffers, inputEnded);
        if (result == Decoder::Result::End) {
            const std::size_t filled = outSize - buffers.outSpace;
            if (filled > 0) {
                if (!inspectHead(outBuffer, filled))
                    return false;
                writer.submit(filled);
            }
            return finishCopy(writer);
        }
        switch (result) {
        case Decoder::Result::More:
        case Decoder::Result::End:
            break;
        case Decoder::Result::OutOfMemory:
            fail(tr("There is not enough memory to decompress the file."), ExitStatus::DecompressionFailed);
            return false;
        case Decoder::Result::Corrupt:
            fail(tr("The downloaded compressed file is corrupted."), ExitStatus::DecompressionFailed);
            return false;
        case Decoder::Result::Unsupported:
            fail(tr("Unsupported compression options."), ExitStatus::DecompressionFailed);
            return false;
        case Decoder::Result::Failed:
            fail(tr("Unknown decompression error."), ExitStatus::DecompressionFailed);
            return false;
        }
        if (buffers.outSpace == 0) {
            if (!inspectHead(outBuffer, outSize))
                return false;
            writer.submit(outSize);
            outBuffer = writer.acquire();
            if (!outBuffer) {
                fail(tr("Destination drive is not writable"), ExitStatus::CopyingFailed);
                return false;
            }
            buffers.out = reinterpret_cast<uint8_t *>(outBuffer);
            buffers.outSpace = outSize;
        }
    }
}

void WriteJob::check(int fd)
{
    m_out << HelperProtocol::Check << '\n';
    m_out.flush();

    // Everything written is read back and compared with what was sent,
    // whatever else vouches for the image: an implanted checksum covers
    // only the ISO volume, not what hybrid images append after it (often
    // their EFI system partition) nor its last sectors. The device was
    // opened with O_DIRECT, so the reads come from the drive, not from the
    // page cache that the writes went through.
    const std::size_t readSize = std::min(ReadBackChunk, m_bufferPages * PrefetchReader::Alignment);
    PrefetchReader reader(fd, m_sent, readSize, readSize);
    if (!reader.isValid()) {
        fail(tr("Unexpected error occurred during media check.") + QLatin1Char('\n'), ExitStatus::VerificationFailed);
        return;
    }
    Xxh3 hash;
    long long verified = 0;
    PrefetchReader::Chunk chunk;
    while (reader.next(chunk)) {
        hash.update(chunk.data, chunk.size);
        // The part of the implanted check that the copy did not take (all of
        // it for xz images, none for plain ones).
        const auto skip = static_cast<std::size_t>(std::max(0LL, m_checksum.fed() - verified));
        if (m_checksum.wantsMore() && skip < chunk.size)
            m_checksum.update(chunk.data + skip, chunk.size - skip);
        verified += static_cast<long long>(chunk.size);
        m_out << verified << '\n';
        m_out.flush();
    }

    // A drive that gives back less than was written to it (a read error, or a
    // device that keeps nothing) fails the comparison like one that gives back
    // other bytes. When the drive holds what was sent, the implanted check
    // of the bytes sent holds for the drive as well.
    if (verified != m_sent || hash.result() != m_sentDigest) {
        fail(tr("Verification failed: the data read back from the drive differs from the image.") + QLatin1Char('\n'),
             ExitStatus::VerificationFailed);
        return;
    }
    if (!m_checksum.hasChecksum()) {
        succeed();
        return;
    }
    switch (m_checksum.finish()) {
    case ImplantedChecksum::Result::Match:
        succeed();
        break;
    case ImplantedChecksum::Result::Mismatch:
        // The drive gave back exactly what was sent: it is the image that
        // differs from the checksum its maker implanted.
        fail(tr("The image does not match the checksum implanted in it: the image file is damaged.")
                 + QLatin1Char('\n'),
             ExitStatus::VerificationFailed);
        break;
    default:
        fail(tr("Unexpected error occurred during media check.") + QLatin1Char('\n'), ExitStatus::VerificationFailed);
        break;
    }
}

void WriteJob::succeed()
{
    m_out << HelperProtocol::Done << '\n';
    m_out.flush();
    // Only now: standard error of a failed write is its error text.
    if (m_unannounced)
        m_err << tr("Note: the image is compressed with %1 although its name does not say so; it was decompressed "
                    "while it was written.")
                     .arg(QLatin1String(formatName(m_format)))
              << '\n';
    m_err << "OK\n";
    m_err.flush();
    exitWith(ExitStatus::Success);
}
