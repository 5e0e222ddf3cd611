// What a compressed image says of itself, on arbitrary files: the format its
// first bytes announce, a zstd frame's recorded size and a zip archive's
// central directory. The input is the whole file, held in a memfd, as both
// programs read an image from its descriptor. The readers must not crash or
// read outside the file, and what they return must be consistent with it.

#include "fuzzsupport.h"
#include "imageformat.h"
#include "zipdirectory.h"
#include "zstdsize.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const ImageFormat head = formatOfHead(reinterpret_cast<const char *>(data), size);
    const std::int64_t frame = zstdFirstFrameSize(data, size);
    FuzzSupport::expect(frame < 0 || head == ImageFormat::Zstd, "a frame size from something that is no zstd");

    const int fd = memfd_create("image", MFD_CLOEXEC);
    FuzzSupport::expect(fd >= 0, "memfd_create failed");
    for (std::size_t done = 0; done < size;) {
        const ssize_t count = write(fd, data + done, size - done);
        FuzzSupport::expect(count > 0, "writing the memfd failed");
        done += static_cast<std::size_t>(count);
    }
    FuzzSupport::expect(formatOfFile(fd) == head, "the file's format differs from its bytes'");
    FuzzSupport::expect(zstdFirstFrameSize(fd) == frame || size > 4096, "the file's frame size differs");

    ZipDirectory directory;
    if (readZipDirectory(fd, directory) && directory.files > 0) {
        FuzzSupport::expect(directory.dataOffset >= 0 && static_cast<std::uint64_t>(directory.dataOffset) <= size
                                && directory.compressedSize <= size - static_cast<std::uint64_t>(directory.dataOffset),
                            "the entry's data lies outside the file");
    }
    for (const ImageFormat format : { ImageFormat::Xz, ImageFormat::Zstd, ImageFormat::Zip, ImageFormat::Gzip }) {
        const DecodedSize decoded = decodedSize(fd, format);
        FuzzSupport::expect(decoded.bytes >= -1 && (!decoded.exact || decoded.bytes >= 0), "an impossible size");
    }
    close(fd);
    return 0;
}
