#pragma once

#include <cstdint>

// What a zip archive's central directory says of the files it holds, read
// from its end as unzip does (the local headers can lack the sizes of
// entries written by streaming tools). Only what writing the one image of an
// archive needs is kept. Zip64 archives (an entry or offset past 4 GiB) are
// read as well.
struct ZipDirectory
{
    // Entries that are files (directories, whose names end in '/', do not count).
    int files = 0;
    // The last file entry: where its data starts in the archive, its sizes,
    // compression method (0 stored, 8 deflated), CRC-32 and whether it is
    // encrypted.
    std::int64_t dataOffset = -1;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    int method = -1;
    std::uint32_t crc = 0;
    bool encrypted = false;
};

// False when the file is no zip archive, or is truncated or damaged so that
// its directory cannot be read.
bool readZipDirectory(int fd, ZipDirectory &directory);
