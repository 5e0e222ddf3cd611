#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// The primary volume descriptor of an ISO 9660 image: the first descriptor of
// type 1 with the standard identifier "CD001" in the set that starts at
// sector 16. Its volume size is what the image claims to hold; a file shorter
// than that is cut off (an interrupted download), and the implanted checksum
// lives in its application-use area.
struct IsoVolume
{
    static constexpr long long SectorSize = 2048;
    static constexpr long long DescriptorsStart = 16 * SectorSize;

    // The byte offset of the descriptor in the image, and its 2048 bytes.
    long long descriptorOffset = -1;
    std::array<std::uint8_t, SectorSize> descriptor {};

    // The volume size the descriptor declares, in bytes.
    [[nodiscard]] long long size() const;

    // read(buffer, length, offset) fills buffer like pread and returns the
    // count read, or a negative number on failure. The reads are 32 KiB long
    // at 32 KiB-aligned offsets, into a page-aligned buffer, so that an
    // O_DIRECT descriptor can serve them. False when the set ends, the data
    // ends or a read fails before a primary descriptor is found, or when none
    // is found in the first 16 MiB.
    using Read = std::function<long long(void *buffer, std::size_t length, long long offset)>;
    static bool find(const Read &read, IsoVolume &volume);
    static bool find(int fd, IsoVolume &volume);
    // The same over the first `length` bytes of an image held in memory.
    static bool find(const void *head, long long length, IsoVolume &volume);
};
