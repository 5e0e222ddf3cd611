#include "xzindex.h"

#include <lzma.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The indexes of a file with very many blocks take a few MiB; a hostile one
// that asks for more is not worth reading.
constexpr std::uint64_t IndexMemoryLimit = 64 << 20;
constexpr std::size_t ReadSize = 64 << 10;
} // namespace

std::int64_t xzDecodedSize(int fd)
{
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0)
        return -1;
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);

    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_index *index = nullptr;
    if (lzma_file_info_decoder(&stream, &index, IndexMemoryLimit, fileSize) != LZMA_OK)
        return -1;
    const std::unique_ptr<lzma_stream, void (*)(lzma_stream *)> decoder(&stream, lzma_end);

    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[ReadSize]);
    std::uint64_t position = 0;
    for (;;) {
        if (stream.avail_in == 0) {
            ssize_t count;
            do {
                count = pread(fd, buffer.get(), ReadSize, static_cast<off_t>(position));
            } while (count < 0 && errno == EINTR);
            if (count < 0)
                return -1;
            position += static_cast<std::uint64_t>(count);
            stream.next_in = buffer.get();
            stream.avail_in = static_cast<std::size_t>(count);
        }
        // The decoder asks for the whole file's end first; running out of
        // input before it is satisfied means the file is cut short.
        const lzma_ret result = lzma_code(&stream, stream.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
        if (result == LZMA_SEEK_NEEDED) {
            position = stream.seek_pos;
            stream.avail_in = 0;
            continue;
        }
        if (result == LZMA_STREAM_END)
            break;
        if (result != LZMA_OK)
            return -1;
    }
    const std::unique_ptr<lzma_index, void (*)(lzma_index *)> owned(index, [](lzma_index *i) { lzma_index_end(i, nullptr); });
    const lzma_vli size = lzma_index_uncompressed_size(index);
    if (size == LZMA_VLI_UNKNOWN || size > static_cast<lzma_vli>(INT64_MAX))
        return -1;
    return static_cast<std::int64_t>(size);
}

std::int64_t xzDecodedSize(const char *path)
{
    if (!path)
        return -1;
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    const std::int64_t size = xzDecodedSize(fd);
    close(fd);
    return size;
}
