#include "zstdsize.h"

#include <cerrno>
#include <unistd.h>

namespace {
constexpr std::uint32_t FrameMagic = 0xfd2fb528;
// Skippable frames: 0x184D2A50 to 0x184D2A5F, followed by their length.
constexpr std::uint32_t SkippableMask = 0xfffffff0;
constexpr std::uint32_t SkippableMagic = 0x184d2a50;
// Enough for a few skippable frames (seekable-format tools put one first)
// and the longest frame header (18 bytes).
constexpr std::size_t HeadRead = 4096;

std::uint64_t littleEndian(const unsigned char *p, std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i > 0; --i)
        value = (value << 8) | p[i - 1];
    return value;
}
} // namespace

std::int64_t zstdFirstFrameSize(const unsigned char *data, std::size_t length)
{
    std::size_t at = 0;
    for (;;) {
        if (length - at < 4)
            return -1;
        const auto magic = static_cast<std::uint32_t>(littleEndian(data + at, 4));
        if ((magic & SkippableMask) == SkippableMagic) {
            if (length - at < 8)
                return -1;
            const std::uint64_t skip = littleEndian(data + at + 4, 4);
            if (skip > length - at - 8)
                return -1;
            at += 8 + static_cast<std::size_t>(skip);
            continue;
        }
        if (magic != FrameMagic)
            return -1;
        at += 4;
        break;
    }
    if (at >= length)
        return -1;
    const unsigned char descriptor = data[at++];
    const unsigned sizeFlag = descriptor >> 6;
    const bool singleSegment = (descriptor >> 5) & 1;
    if ((descriptor >> 3) & 1) // reserved, must be zero
        return -1;
    static constexpr std::size_t dictionaryBytes[] = { 0, 1, 2, 4 };
    const std::size_t skip = (singleSegment ? 0 : 1) + dictionaryBytes[descriptor & 3];
    static constexpr std::size_t sizeBytes[] = { 0, 2, 4, 8 };
    const std::size_t fieldBytes = sizeFlag == 0 && singleSegment ? 1 : sizeBytes[sizeFlag];
    if (fieldBytes == 0)
        return -1;
    if (length - at < skip + fieldBytes)
        return -1;
    std::uint64_t size = littleEndian(data + at + skip, fieldBytes);
    if (fieldBytes == 2)
        size += 256;
    if (size > static_cast<std::uint64_t>(INT64_MAX))
        return -1;
    return static_cast<std::int64_t>(size);
}

std::int64_t zstdFirstFrameSize(int fd)
{
    unsigned char head[HeadRead];
    ssize_t count;
    do {
        count = pread(fd, head, sizeof head, 0);
    } while (count < 0 && errno == EINTR);
    if (count <= 0)
        return -1;
    return zstdFirstFrameSize(head, static_cast<std::size_t>(count));
}
