#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The compressed forms in which images are handed around, and what a file
// of each form says of the size it decodes to. Used by the helper, which
// decodes them while writing, and by the window, which checks beforehand
// that the decoded image fits the drive.
enum class ImageFormat { Plain, Xz, Gzip, Bzip2, Zstd, Zip };

// The format that the first bytes of a file announce (their magic number);
// Plain when none does. Four bytes are enough to tell.
ImageFormat formatOfHead(const char *data, std::size_t length);
// The same for the start of an open file, read without moving its offset.
ImageFormat formatOfFile(int fd);
// The format that a file name's last suffix claims (".xz", ".gz", ".bz2",
// ".zst", ".zip", all lower case as the tools write them); Plain otherwise.
ImageFormat formatOfName(std::string_view name);
// What a file is decoded as: the magic number decides; a name that claims
// a compressed format the bytes do not show still selects its decoder, so
// that a damaged or mislabelled download fails as corrupted instead of
// being written as it stands.
ImageFormat decodingFormat(ImageFormat head, ImageFormat name);
// "xz", "gzip", "bzip2", "zstd", "zip"; empty for Plain.
const char *formatName(ImageFormat format);

// The decoded size as far as the file records it.
struct DecodedSize
{
    // -1 when unknown.
    std::int64_t bytes = -1;
    // False when bytes is only a lower bound: a zstd file records the size
    // of each frame in its header, but which frames follow the first is only
    // found by walking all of them (reading the whole file), so only the
    // first frame's size is read.
    bool exact = false;
};

// For xz the indexes, for zstd the first frame's header, for a zip holding
// exactly one file that file's entry. gzip records the size modulo 4 GiB
// only and bzip2 not at all: unknown, as for plain files.
DecodedSize decodedSize(int fd, ImageFormat format);
