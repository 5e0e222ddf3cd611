// The helper's write job on arbitrary ".xz" files. The job runs as in the
// helper, from its event loop to its exit status; only the device comes from
// here instead of from UDisks2: a memfd of fixed size that cannot grow, as a
// drive cannot. What the job did is judged against liblzma's own verdict on
// the same bytes: a stream that decodes must land on the device byte for
// byte and end in "DONE" (or in a verification failure, when the decoded
// data is an ISO whose implanted checksum does not match), unless it is
// empty or an ISO shorter than its volume, which are refused; one that does
// not decode, or does not fit, must fail with a status of its own.
//
// Inputs that start with 'G' are not taken as xz data themselves but
// generate a valid stream: the three bytes after the 'G' give a repeat count,
// the rest the content, repeated and compressed by liblzma. The decoder's own
// checks stop almost every mutation of real xz data early, so this is how the
// copy meets images of every size around its buffers and the drive's end.
// The job copies in buffers of 64 KiB instead of 4 MiB onto a drive of eight
// of them: the same code meets the same boundaries at a small part of the
// cost per input.
//
// The target stays at the boundary of the job (image path in, device,
// standard output and error, exit status out), so it does not depend on how
// the job decodes or copies.

#include "fuzzsupport.h"
#include "imageformat.h"
#include "implantedmd5.h"
#include "isovolume.h"
#include "writejob.h"
#include "xzindex.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QTemporaryDir>

#include <lzma.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t BufferPages = 16;
constexpr std::size_t DeviceSize = 8 * BufferPages * 4096;
constexpr uint64_t MemoryLimit = 268435456;
// Where the job looks for an ISO volume: its first buffer.
const qsizetype HeadSize = qsizetype(BufferPages) * getpagesize();

class FileWriteJob : public WriteJob
{
public:
    FileWriteJob(const QString &image, int device)
        : WriteJob(image, QStringLiteral("/org/freedesktop/UDisks2/block_devices/fuzz"))
        , m_device(device)
    {
        m_bufferPages = BufferPages;
        m_outBuffer.open(QIODevice::WriteOnly);
        m_errBuffer.open(QIODevice::WriteOnly);
        m_out.setDevice(&m_outBuffer);
        m_err.setDevice(&m_errBuffer);
    }

    QDBusUnixFileDescriptor getDescriptor() override { return QDBusUnixFileDescriptor(m_device); }

    [[nodiscard]] QByteArray output()
    {
        m_out.flush();
        return m_outBuffer.data();
    }
    [[nodiscard]] QByteArray errors()
    {
        m_err.flush();
        return m_errBuffer.data();
    }

private:
    int m_device;
    QBuffer m_outBuffer;
    QBuffer m_errBuffer;
};

enum class Reference { Decodes, Fails, TooLarge };

// Everything the target needs of a size that grows with the drive is
// allocated once: fresh large allocations cost page faults for each input.

// liblzma's verdict on the whole input, with the helper's memory limit and
// concatenated streams; the bytes it decoded (up to one more than the device holds).
// One decoder for the process, set up anew for each input.
Reference decode(const uint8_t *data, std::size_t size, QByteArray &decoded)
{
    static lzma_stream stream = LZMA_STREAM_INIT;
    static QByteArray buffer(DeviceSize + 1, Qt::Uninitialized);
    if (lzma_stream_decoder(&stream, MemoryLimit, LZMA_CONCATENATED) != LZMA_OK)
        qFatal("the reference decoder does not start");
    stream.next_in = data;
    stream.avail_in = size;
    stream.next_out = reinterpret_cast<uint8_t *>(buffer.data());
    stream.avail_out = std::size_t(buffer.size());
    lzma_ret result;
    do {
        result = lzma_code(&stream, LZMA_FINISH);
    } while (result == LZMA_OK && stream.avail_out > 0);
    const std::size_t produced = std::size_t(buffer.size()) - stream.avail_out;
    decoded = QByteArray::fromRawData(buffer.constData(), qsizetype(produced));
    if (produced > DeviceSize)
        return Reference::TooLarge;
    return result == LZMA_STREAM_END ? Reference::Decodes : Reference::Fails;
}

// A stream of at most a little more than the drive holds.
QByteArray generate(const uint8_t *data, std::size_t size)
{
    static lzma_stream encoder = LZMA_STREAM_INIT;
    static QByteArray plain(DeviceSize + DeviceSize / 4, Qt::Uninitialized);
    static QByteArray stream(qsizetype(lzma_stream_buffer_bound(std::size_t(plain.size()))), Qt::Uninitialized);
    const std::size_t count = std::size_t(data[1]) << 16 | std::size_t(data[2]) << 8 | data[3];
    const std::size_t length = std::min(count * (size - 4), std::size_t(plain.size()));
    // The piece, then the repeated part doubled until the length is reached.
    std::memcpy(plain.data(), data + 4, std::min(size - 4, length));
    for (std::size_t done = std::min(size - 4, length); done < length; done += std::min(done, length - done))
        std::memcpy(plain.data() + done, plain.constData(), std::min(done, length - done));
    // No check: liblzma's own, which would cost each of the three passes
    // over the image (made, written, decoded for reference); the seeds of
    // real xz files carry every kind.
    if (lzma_easy_encoder(&encoder, 0, LZMA_CHECK_NONE) != LZMA_OK)
        qFatal("the encoder does not start");
    encoder.next_in = reinterpret_cast<const uint8_t *>(plain.constData());
    encoder.avail_in = length;
    encoder.next_out = reinterpret_cast<uint8_t *>(stream.data());
    encoder.avail_out = std::size_t(stream.size());
    if (lzma_code(&encoder, LZMA_FINISH) != LZMA_STREAM_END)
        qFatal("the stream cannot be made");
    return QByteArray::fromRawData(stream.constData(), stream.size() - qsizetype(encoder.avail_out));
}

// Where the images go; removed when the process ends.
QTemporaryDir &scratch()
{
    static QTemporaryDir folder;
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication("fuzz_helperxz");
    FuzzSupport::expect(scratch().isValid(), "a scratch folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, std::size_t inputSize)
{
    QByteArray generated;
    const uint8_t *data = input;
    std::size_t size = inputSize;
    if (inputSize >= 4 && input[0] == 'G') {
        generated = generate(input, inputSize);
        data = reinterpret_cast<const uint8_t *>(generated.constData());
        size = std::size_t(generated.size());
    }
    // The helper goes by the first bytes: those of another format are decoded
    // as that format, which liblzma cannot judge (tst_fakeformats tests them).
    const ImageFormat head = formatOfHead(reinterpret_cast<const char *>(data), size);
    if (head != ImageFormat::Xz && head != ImageFormat::Plain)
        return 0;

    const QString image = scratch().filePath(QStringLiteral("image.xz"));
    {
        QFile file(image);
        FuzzSupport::expect(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                                && file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size),
                            "the image is written");
    }

    const int device = memfd_create("device", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    FuzzSupport::expect(device >= 0 && ftruncate(device, DeviceSize) == 0
                            && fcntl(device, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK) == 0,
                        "a device of fixed size");

    int status = -1;
    QByteArray output;
    QByteArray errors;
    {
        FileWriteJob job(image, device);
        // The application's loop, as in the helper: the job ends it through
        // QCoreApplication::exit, which a nested QEventLoop would not recover from.
        status = QCoreApplication::exec();
        output = job.output();
        errors = job.errors();
    }

    if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
        std::fprintf(stderr, "status %d\noutput:\n%s\nerrors:\n%s\n", status, output.constData(), errors.constData());

    QByteArray decoded;
    const Reference reference = decode(data, size, decoded);
    // An image that cannot be right is refused: nothing to write, or an ISO
    // whose volume (declared in its first buffer, where the job looks) is
    // longer than the image.
    IsoVolume volume;
    const bool hasVolume = IsoVolume::find(decoded.constData(), std::min(decoded.size(), HeadSize), volume);
    const bool incomplete = reference == Reference::Decodes && hasVolume && volume.size() > decoded.size();
    // A stream that does not decode or fit is judged by the size its index
    // announces before it is written, and refused as well when that is
    // nothing or less than its ISO volume.
    const std::int64_t announced = xzDecodedSize(QFile::encodeName(image).constData());
    const bool refusable = announced == 0 || (announced > 0 && hasVolume && volume.size() > announced);
    if (reference == Reference::Decodes && (decoded.isEmpty() || incomplete)) {
        FuzzSupport::expect(status == 2, "an empty or incomplete image is refused with status 2");
        FuzzSupport::expect(!output.contains("DONE"), "no DONE for a refused image");
        FuzzSupport::expect(!errors.isEmpty(), "a refusal says why");
    } else if (reference == Reference::Decodes) {
        const qsizetype padded = (decoded.size() + 511) / 512 * 512;
        static QByteArray written(DeviceSize, Qt::Uninitialized);
        FuzzSupport::expect(pread(device, written.data(), std::size_t(padded), 0) == padded,
                            "the device can be read back");
        FuzzSupport::expect(std::memcmp(written.constData(), decoded.constData(), std::size_t(decoded.size())) == 0,
                            "the decoded image is on the device");
        FuzzSupport::expect(std::all_of(written.constData() + decoded.size(), written.constData() + padded,
                                        [](char c) { return c == '\0'; }),
                            "the last block is filled up with zeros");
        const int verdict = mediaCheckFD(device, nullptr, nullptr);
        if (verdict == 1 || verdict == -1) {
            FuzzSupport::expect(status == 0, "a decodable image is written with status 0");
            FuzzSupport::expect(output.contains("CHECK\n") && output.endsWith("DONE\n"),
                                "success ends in CHECK and DONE");
        } else {
            FuzzSupport::expect(status == 1, "a failed verification ends with status 1");
        }
    } else if (status == 2 && refusable) {
        FuzzSupport::expect(!output.contains("DONE") && !errors.isEmpty(), "a refusal says why, without DONE");
    } else {
        FuzzSupport::expect(status != 0, "an image that does not decode or fit is never a success");
        FuzzSupport::expect(!output.contains("DONE"), "no DONE for a failed write");
        FuzzSupport::expect(!errors.isEmpty(), "a failure says why");
        // Data that does not fit may also turn out corrupt before the write
        // that no longer fits the drive.
        if (reference == Reference::TooLarge)
            FuzzSupport::expect(status == 3 || status == 4, "an image larger than the drive ends with status 3 or 4");
        else
            FuzzSupport::expect(status == 4, "undecodable data ends with status 4");
    }

    ::close(device);
    return 0;
}
