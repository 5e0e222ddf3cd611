#include "zipdirectory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// The end record is 22 bytes and may be followed by a comment of up to 64 KiB.
constexpr std::size_t EndRecord = 22;
constexpr std::size_t EndSearch = EndRecord + 0xffff;
// A directory larger than this is not an image's archive; its size comes
// from the file, so it is bounded before anything is allocated for it.
constexpr std::uint64_t DirectoryLimit = 16 << 20;

std::uint64_t le(const unsigned char *p, std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i > 0; --i)
        value = (value << 8) | p[i - 1];
    return value;
}

bool readAt(int fd, unsigned char *buffer, std::size_t length, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

struct Directory
{
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

// The end record, and the Zip64 one where a field of it overflowed.
bool findDirectory(int fd, std::uint64_t fileSize, Directory &directory)
{
    const std::size_t tailLength = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, EndSearch));
    if (tailLength < EndRecord)
        return false;
    const std::uint64_t tailStart = fileSize - tailLength;
    std::vector<unsigned char> tail(tailLength);
    if (!readAt(fd, tail.data(), tailLength, tailStart))
        return false;
    // The last signature whose comment reaches exactly to the end of the file.
    std::size_t at = tailLength - EndRecord + 1;
    const unsigned char *end = nullptr;
    while (at-- > 0) {
        const unsigned char *p = tail.data() + at;
        if (std::memcmp(p, "PK\x05\x06", 4) == 0 && at + EndRecord + le(p + 20, 2) == tailLength) {
            end = p;
            break;
        }
    }
    if (!end)
        return false;
    // Archives split over several disks are not images one writes.
    if (le(end + 4, 2) != 0 || le(end + 6, 2) != 0)
        return false;
    directory.entries = le(end + 10, 2);
    directory.size = le(end + 12, 4);
    directory.offset = le(end + 16, 4);
    if (directory.entries != 0xffff && directory.size != 0xffffffff && directory.offset != 0xffffffff)
        return true;

    // Zip64: a locator of 20 bytes right before the end record.
    const std::uint64_t endOffset = tailStart + static_cast<std::uint64_t>(end - tail.data());
    unsigned char locator[20];
    if (endOffset < sizeof locator || !readAt(fd, locator, sizeof locator, endOffset - sizeof locator)
        || std::memcmp(locator, "PK\x06\x07", 4) != 0)
        return false;
    unsigned char record[56];
    const std::uint64_t recordOffset = le(locator + 8, 8);
    if (recordOffset > fileSize || !readAt(fd, record, sizeof record, recordOffset)
        || std::memcmp(record, "PK\x06\x06", 4) != 0)
        return false;
    directory.entries = le(record + 32, 8);
    directory.size = le(record + 40, 8);
    directory.offset = le(record + 48, 8);
    return true;
}
} // namespace

bool readZipDirectory(int fd, ZipDirectory &result)
{
    result = ZipDirectory();
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0)
        return false;
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);
    Directory directory;
    if (!findDirectory(fd, fileSize, directory))
        return false;
    if (directory.size > DirectoryLimit || directory.offset > fileSize || directory.size > fileSize - directory.offset)
        return false;
    std::vector<unsigned char> entries(static_cast<std::size_t>(directory.size));
    if (!entries.empty() && !readAt(fd, entries.data(), entries.size(), directory.offset))
        return false;

    std::uint64_t fileOffset = 0;
    std::size_t at = 0;
    for (std::uint64_t n = 0; n < directory.entries; ++n) {
        if (entries.size() - at < 46 || std::memcmp(entries.data() + at, "PK\x01\x02", 4) != 0)
            return false;
        const unsigned char *entry = entries.data() + at;
        const std::size_t nameLength = le(entry + 28, 2);
        const std::size_t extraLength = le(entry + 30, 2);
        const std::size_t commentLength = le(entry + 32, 2);
        if (entries.size() - at - 46 < nameLength + extraLength + commentLength)
            return false;
        at += 46 + nameLength + extraLength + commentLength;
        const char *name = reinterpret_cast<const char *>(entry + 46);
        if (nameLength > 0 && name[nameLength - 1] == '/')
            continue;

        ++result.files;
        std::uint64_t compressedSize = le(entry + 20, 4);
        std::uint64_t size = le(entry + 24, 4);
        std::uint64_t localOffset = le(entry + 42, 4);
        // The Zip64 field holds, in this order, those of the three that overflowed.
        const unsigned char *extra = entry + 46 + nameLength;
        for (std::size_t e = 0; e + 4 <= extraLength;) {
            const std::uint64_t id = le(extra + e, 2);
            const std::size_t length = le(extra + e + 2, 2);
            if (e + 4 + length > extraLength)
                return false;
            if (id == 1) {
                const unsigned char *field = extra + e + 4;
                std::size_t used = 0;
                for (std::uint64_t *value : { &size, &compressedSize, &localOffset }) {
                    if (*value != 0xffffffff)
                        continue;
                    if (used + 8 > length)
                        return false;
                    *value = le(field + used, 8);
                    used += 8;
                }
            }
            e += 4 + length;
        }
        result.compressedSize = compressedSize;
        result.size = size;
        result.method = static_cast<int>(le(entry + 10, 2));
        result.crc = static_cast<std::uint32_t>(le(entry + 16, 4));
        result.encrypted = le(entry + 8, 2) & 1;
        fileOffset = localOffset;
    }
    if (result.files == 0)
        return true;

    // The data follows the local header, whose name and extra field may
    // differ in length from the directory's.
    unsigned char local[30];
    if (fileOffset > fileSize || !readAt(fd, local, sizeof local, fileOffset) || std::memcmp(local, "PK\x03\x04", 4) != 0)
        return false;
    const std::uint64_t dataOffset = fileOffset + 30 + le(local + 26, 2) + le(local + 28, 2);
    if (dataOffset > fileSize || result.compressedSize > fileSize - dataOffset)
        return false;
    result.dataOffset = static_cast<std::int64_t>(dataOffset);
    return true;
}
