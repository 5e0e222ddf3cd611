// The xz index reader on arbitrary files, through the descriptor and the
// path. Whatever the bytes, a size it reads must be the one liblzma decodes
// the same file to (concatenated streams and padding included) when the file
// decodes; the decoding is counted, not kept, and stops at 64 MiB.
//
// liblzma is not instrumented, so the fuzzer cannot steer into valid
// indexes by itself: inputs that start with 'G' generate a file instead, one
// stream for each piece of the rest between 0xff bytes, each followed by as
// many 4-byte words of stream padding as its length modulo 3.

#include "fuzzsupport.h"
#include "xzindex.h"

#include <QByteArrayList>

#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The decoded size, or -1 when the file does not decode (or decodes to more than is counted).
std::int64_t decodedSize(const uint8_t *data, std::size_t size)
{
    static uint8_t out[64 << 10];
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, 268435456, LZMA_CONCATENATED) != LZMA_OK)
        return -1;
    stream.next_in = data;
    stream.avail_in = size;
    std::int64_t total = 0;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK && total < (64 << 20)) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        result = lzma_code(&stream, LZMA_FINISH);
        total += std::int64_t(sizeof out - stream.avail_out);
    }
    lzma_end(&stream);
    return result == LZMA_STREAM_END ? total : -1;
}

QByteArray generate(const QByteArray &input)
{
    QByteArray file;
    for (const QByteArray &piece : input.mid(1).split('\xff')) {
        QByteArray stream(qsizetype(lzma_stream_buffer_bound(std::size_t(piece.size()))), Qt::Uninitialized);
        std::size_t written = 0;
        FuzzSupport::expect(lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr,
                                                    reinterpret_cast<const uint8_t *>(piece.constData()),
                                                    std::size_t(piece.size()), reinterpret_cast<uint8_t *>(stream.data()),
                                                    &written, std::size_t(stream.size()))
                                == LZMA_OK,
                            "a stream is made");
        file += stream.left(qsizetype(written)) + QByteArray(4 * (piece.size() % 3), '\0');
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, std::size_t inputSize)
{
    const uint8_t *data = input;
    std::size_t size = inputSize;
    QByteArray generated;
    if (size > 0 && input[0] == 'G') {
        generated = generate(QByteArray(reinterpret_cast<const char *>(input), qsizetype(inputSize)));
        data = reinterpret_cast<const uint8_t *>(generated.constData());
        size = std::size_t(generated.size());
    }
    const int fd = memfd_create("image", MFD_CLOEXEC);
    FuzzSupport::expect(fd >= 0 && write(fd, data, size) == ssize_t(size), "the file is written");
    const std::int64_t byDescriptor = xzDecodedSize(fd);
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    FuzzSupport::expect(xzDecodedSize(path) == byDescriptor, "the path and the descriptor give the same size");
    FuzzSupport::expect(byDescriptor >= -1, "a size or -1");
    const std::int64_t decoded = decodedSize(data, size);
    if (decoded >= 0)
        FuzzSupport::expect(byDescriptor == decoded, "the index gives the size the file decodes to");
    FuzzSupport::expect(generated.isEmpty() || decoded >= 0, "a generated file decodes");
    ::close(fd);
    return 0;
}
