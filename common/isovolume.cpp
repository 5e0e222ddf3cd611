#include "isovolume.h"

#include "pagealignedbuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace {
// Real descriptor sets are a handful of sectors long. Without a bound, a raw
// disk image with a long run of zeroes after sector 16 would be read far into
// the device before giving up.
constexpr long long DescriptorsEnd = 16LL << 20;
constexpr std::size_t ReadSize = 32768;
constexpr std::uint8_t PrimaryDescriptor = 1;
constexpr std::uint8_t SetTerminator = 255;
constexpr long long VolumeSizeOffset = 84;

bool hasStandardIdentifier(const std::uint8_t *sector)
{
    return std::memcmp(sector + 1, "CD001", 5) == 0;
}
} // namespace

long long IsoVolume::size() const
{
    const std::uint8_t *field = descriptor.data() + VolumeSizeOffset;
    const long long sectors = (static_cast<long long>(field[0]) << 24) | (static_cast<long long>(field[1]) << 16)
        | (static_cast<long long>(field[2]) << 8) | static_cast<long long>(field[3]);
    return sectors * SectorSize;
}

bool IsoVolume::find(const Read &read, IsoVolume &volume)
{
    std::unique_ptr<char[]> owner;
    std::uint8_t *buffer = nullptr;
    try {
        auto [allocation, start, size] = pageAlignedBuffer(pagesFor(ReadSize));
        owner = std::move(allocation);
        buffer = reinterpret_cast<std::uint8_t *>(start);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (long long position = DescriptorsStart; position < DescriptorsEnd; position += ReadSize) {
        const long long count = read(buffer, ReadSize, position);
        if (count <= 0)
            return false;
        const long long sectors = count / SectorSize;
        for (long long i = 0; i < sectors; ++i) {
            const std::uint8_t *sector = buffer + i * SectorSize;
            // A raw disk image may hold anything at 32 KiB: every descriptor
            // of a set says that it is one.
            if (sector[0] == SetTerminator || !hasStandardIdentifier(sector))
                return false;
            if (sector[0] != PrimaryDescriptor)
                continue;
            volume.descriptorOffset = position + i * SectorSize;
            std::memcpy(volume.descriptor.data(), sector, SectorSize);
            return true;
        }
        if (count < static_cast<long long>(ReadSize))
            return false;
    }
    return false;
}

bool IsoVolume::find(int fd, IsoVolume &volume)
{
    return find(
        [fd](void *buffer, std::size_t length, long long offset) -> long long {
            ssize_t n;
            do {
                n = pread(fd, buffer, length, offset);
            } while (n < 0 && errno == EINTR);
            return n;
        },
        volume);
}

bool IsoVolume::find(const void *head, long long length, IsoVolume &volume)
{
    if (!head || length <= 0)
        return false;
    const auto *bytes = static_cast<const std::uint8_t *>(head);
    return find(
        [bytes, length](void *buffer, std::size_t wanted, long long offset) -> long long {
            if (offset >= length)
                return 0;
            const long long count = std::min(static_cast<long long>(wanted), length - offset);
            std::memcpy(buffer, bytes + offset, static_cast<std::size_t>(count));
            return count;
        },
        volume);
}
