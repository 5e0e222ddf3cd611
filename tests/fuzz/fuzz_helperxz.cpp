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
//
// The target stays at the boundary of the job (image path in, device,
// standard output and error, exit status out), so it does not depend on how
// the job decodes or copies.

#include "fuzzsupport.h"
#include "imageformat.h"
#include "implantedmd5.h"
#include "isovolume.h"
#include "writejob.h"

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

constexpr std::size_t DeviceSize = 8 << 20;
constexpr uint64_t MemoryLimit = 268435456;

class FileWriteJob : public WriteJob
{
public:
    FileWriteJob(const QString &image, int device)
        : WriteJob(image, QStringLiteral("/org/freedesktop/UDisks2/block_devices/fuzz"))
        , m_device(device)
    {
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

// liblzma's verdict on the whole input, with the helper's memory limit and
// concatenated streams; the decoded bytes when it decodes and fits the device.
Reference decode(const uint8_t *data, std::size_t size, QByteArray &decoded)
{
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, MemoryLimit, LZMA_CONCATENATED) != LZMA_OK)
        qFatal("the reference decoder does not start");
    decoded = QByteArray(DeviceSize + 1, Qt::Uninitialized);
    stream.next_in = data;
    stream.avail_in = size;
    stream.next_out = reinterpret_cast<uint8_t *>(decoded.data());
    stream.avail_out = std::size_t(decoded.size());
    lzma_ret result;
    do {
        result = lzma_code(&stream, LZMA_FINISH);
    } while (result == LZMA_OK && stream.avail_out > 0);
    const std::size_t produced = std::size_t(decoded.size()) - stream.avail_out;
    lzma_end(&stream);
    if (produced > DeviceSize)
        return Reference::TooLarge;
    if (result == LZMA_STREAM_END) {
        decoded.truncate(qsizetype(produced));
        return Reference::Decodes;
    }
    return Reference::Fails;
}

// Where the images go; removed when the process ends.
// A stream of at most a little more than the drive holds.
QByteArray generate(const uint8_t *data, std::size_t size)
{
    const std::size_t count = std::size_t(data[1]) << 16 | std::size_t(data[2]) << 8 | data[3];
    const QByteArray piece(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4));
    QByteArray plain;
    if (!piece.isEmpty()) {
        const std::size_t limit = DeviceSize + (1 << 20);
        const std::size_t length = std::min(count * std::size_t(piece.size()), limit);
        plain.reserve(qsizetype(length));
        while (std::size_t(plain.size()) < length)
            plain.append(
                piece.left(qsizetype(std::min(std::size_t(piece.size()), length - std::size_t(plain.size())))));
    }
    QByteArray stream(qsizetype(lzma_stream_buffer_bound(std::size_t(plain.size()))), Qt::Uninitialized);
    std::size_t written = 0;
    if (lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr, reinterpret_cast<const uint8_t *>(plain.constData()),
                                std::size_t(plain.size()), reinterpret_cast<uint8_t *>(stream.data()), &written,
                                std::size_t(stream.size()))
        != LZMA_OK)
        qFatal("the stream cannot be made");
    stream.truncate(qsizetype(written));
    return stream;
}

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
    // whose volume (declared in its first MiB, where the job looks) is
    // longer than the image.
    IsoVolume volume;
    const bool incomplete = reference == Reference::Decodes
        && IsoVolume::find(decoded.constData(), std::min<qsizetype>(decoded.size(), 1 << 20), volume)
        && volume.size() > decoded.size();
    if (reference == Reference::Decodes && (decoded.isEmpty() || incomplete)) {
        FuzzSupport::expect(status == 2, "an empty or incomplete image is refused with status 2");
        FuzzSupport::expect(!output.contains("DONE"), "no DONE for a refused image");
        FuzzSupport::expect(!errors.isEmpty(), "a refusal says why");
    } else if (reference == Reference::Decodes) {
        const qsizetype padded = (decoded.size() + 511) / 512 * 512;
        QByteArray written(padded, Qt::Uninitialized);
        FuzzSupport::expect(pread(device, written.data(), std::size_t(padded), 0) == padded,
                            "the device can be read back");
        FuzzSupport::expect(written.left(decoded.size()) == decoded, "the decoded image is on the device");
        FuzzSupport::expect(written.mid(decoded.size()) == QByteArray(padded - decoded.size(), '\0'),
                            "the last block is filled up with zeros");
        const int verdict = mediaCheckFD(device, nullptr, nullptr);
        if (verdict == 1 || verdict == -1) {
            FuzzSupport::expect(status == 0, "a decodable image is written with status 0");
            FuzzSupport::expect(output.contains("CHECK\n") && output.endsWith("DONE\n"),
                                "success ends in CHECK and DONE");
        } else {
            FuzzSupport::expect(status == 1, "a failed verification ends with status 1");
        }
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
