#include "imageformat.h"

#include "zipdirectory.h"
#include "xzindex.h"
#include "zstdsize.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
bool startsWith(const char *data, std::size_t length, const char *magic, std::size_t magicLength)
{
    return length >= magicLength && std::memcmp(data, magic, magicLength) == 0;
}

bool endsWith(std::string_view name, std::string_view suffix)
{
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
}
} // namespace

ImageFormat formatOfHead(const char *data, std::size_t length)
{
    if (startsWith(data, length, "\xfd" "7zXZ\0", 6))
        return ImageFormat::Xz;
    // Deflate is the only method gzip defines; the flags' top three bits are
    // reserved and zero.
    if (startsWith(data, length, "\x1f\x8b\x08", 3) && length >= 4 && (static_cast<unsigned char>(data[3]) & 0xe0) == 0)
        return ImageFormat::Gzip;
    if (startsWith(data, length, "BZh", 3) && length >= 4 && data[3] >= '1' && data[3] <= '9')
        return ImageFormat::Bzip2;
    if (startsWith(data, length, "\x28\xb5\x2f\xfd", 4))
        return ImageFormat::Zstd;
    // A skippable frame (0x184D2A50 to 0x184D2A5F) may come first.
    if (length >= 4 && (static_cast<unsigned char>(data[0]) & 0xf0) == 0x50 && startsWith(data + 1, length - 1, "\x2a\x4d\x18", 3))
        return ImageFormat::Zstd;
    // A local file header, or the end record alone of an empty archive.
    if (startsWith(data, length, "PK\x03\x04", 4) || startsWith(data, length, "PK\x05\x06", 4))
        return ImageFormat::Zip;
    return ImageFormat::Plain;
}

ImageFormat formatOfFile(int fd)
{
    char head[8];
    ssize_t count;
    do {
        count = pread(fd, head, sizeof head, 0);
    } while (count < 0 && errno == EINTR);
    return count > 0 ? formatOfHead(head, static_cast<std::size_t>(count)) : ImageFormat::Plain;
}

ImageFormat formatOfName(std::string_view name)
{
    if (endsWith(name, ".xz"))
        return ImageFormat::Xz;
    if (endsWith(name, ".gz"))
        return ImageFormat::Gzip;
    if (endsWith(name, ".bz2"))
        return ImageFormat::Bzip2;
    if (endsWith(name, ".zst"))
        return ImageFormat::Zstd;
    if (endsWith(name, ".zip"))
        return ImageFormat::Zip;
    return ImageFormat::Plain;
}

ImageFormat decodingFormat(ImageFormat head, ImageFormat name)
{
    return head != ImageFormat::Plain ? head : name;
}

const char *formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Xz:
        return "xz";
    case ImageFormat::Gzip:
        return "gzip";
    case ImageFormat::Bzip2:
        return "bzip2";
    case ImageFormat::Zstd:
        return "zstd";
    case ImageFormat::Zip:
        return "zip";
    case ImageFormat::Plain:
        break;
    }
    return "";
}

DecodedSize decodedSize(int fd, ImageFormat format)
{
    DecodedSize result;
    switch (format) {
    case ImageFormat::Xz:
        result.bytes = xzDecodedSize(fd);
        result.exact = result.bytes >= 0;
        break;
    case ImageFormat::Zstd:
        result.bytes = zstdFirstFrameSize(fd);
        break;
    case ImageFormat::Zip: {
        ZipDirectory directory;
        if (readZipDirectory(fd, directory) && directory.files == 1 && directory.size <= INT64_MAX) {
            result.bytes = static_cast<std::int64_t>(directory.size);
            result.exact = true;
        }
        break;
    }
    case ImageFormat::Plain:
    case ImageFormat::Gzip:
    case ImageFormat::Bzip2:
        break;
    }
    return result;
}
