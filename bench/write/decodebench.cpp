// Decoding speed of the two ways the helper could decode gzip, bzip2, zstd
// and zip images: libarchive (one streaming interface over all of them) or
// zlib, libbz2 and libzstd directly, as the helper's Decoder does. Both
// decode the whole file into one reused 4 MiB buffer, as the helper's copy
// does before each write, and throw the bytes away, so only decoding is timed.
//
//   decodebench direct|libarchive <file>
//
// Prints "<decoded bytes> <seconds>"; the script runs it under /usr/bin/time
// for the peak memory of each.

#include "decoder.h"
#include "imageformat.h"
#include "zipdirectory.h"

#include <archive.h>
#include <archive_entry.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr std::size_t BufferSize = 4 << 20;

long long direct(int fd)
{
    ImageFormat format = formatOfFile(fd);
    std::unique_ptr<Decoder> decoder;
    off_t offset = 0;
    long long remaining = -1;
    if (format == ImageFormat::Zip) {
        ZipDirectory entry;
        if (!readZipDirectory(fd, entry) || entry.files != 1)
            return -1;
        offset = entry.dataOffset;
        remaining = static_cast<long long>(entry.compressedSize);
        decoder = Decoder::create(entry);
    } else {
        decoder = Decoder::create(format);
    }
    if (!decoder)
        return -1;
    std::vector<std::uint8_t> in(BufferSize), out(BufferSize);
    Decoder::Buffers buffers;
    buffers.out = out.data();
    buffers.outSpace = out.size();
    bool ended = false;
    long long decoded = 0;
    for (;;) {
        if (buffers.inLength == 0 && !ended) {
            const std::size_t wanted = remaining < 0 ? in.size() : std::min<std::size_t>(in.size(), remaining);
            const ssize_t count = pread(fd, in.data(), wanted, offset);
            if (count < 0)
                return -1;
            offset += count;
            if (remaining >= 0)
                remaining -= count;
            ended = static_cast<std::size_t>(count) < wanted || remaining == 0;
            buffers.in = in.data();
            buffers.inLength = static_cast<std::size_t>(count);
        }
        const Decoder::Result result = decoder->decode(buffers, ended);
        if (result != Decoder::Result::More && result != Decoder::Result::End)
            return -1;
        if (buffers.outSpace == 0 || result == Decoder::Result::End) {
            decoded += static_cast<long long>(out.size() - buffers.outSpace);
            buffers.out = out.data();
            buffers.outSpace = out.size();
        }
        if (result == Decoder::Result::End)
            return decoded;
    }
}

long long libarchive(int fd)
{
    const std::unique_ptr<archive, int (*)(archive *)> reader(archive_read_new(), archive_read_free);
    archive *a = reader.get();
    archive_read_support_filter_gzip(a);
    archive_read_support_filter_bzip2(a);
    archive_read_support_filter_zstd(a);
    // The zip reader that uses the central directory, as the helper does.
    archive_read_support_format_zip_seekable(a);
    archive_read_support_format_raw(a);
    if (archive_read_open_fd(a, fd, BufferSize) != ARCHIVE_OK)
        return -1;
    archive_entry *entry = nullptr;
    if (archive_read_next_header(a, &entry) != ARCHIVE_OK)
        return -1;
    std::vector<char> out(BufferSize);
    long long decoded = 0;
    for (;;) {
        // Filled to the brim before each "write", as the helper does.
        std::size_t filled = 0;
        while (filled < out.size()) {
            const la_ssize_t count = archive_read_data(a, out.data() + filled, out.size() - filled);
            if (count < 0)
                return -1;
            if (count == 0)
                break;
            filled += static_cast<std::size_t>(count);
        }
        decoded += static_cast<long long>(filled);
        if (filled < out.size())
            return decoded;
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "direct") != 0 && std::strcmp(argv[1], "libarchive") != 0)) {
        std::fprintf(stderr, "usage: decodebench direct|libarchive <file>\n");
        return 1;
    }
    const int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const long long decoded = std::strcmp(argv[1], "direct") == 0 ? direct(fd) : libarchive(fd);
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
    if (decoded < 0) {
        std::fprintf(stderr, "decodebench: %s failed on %s\n", argv[1], argv[2]);
        return 1;
    }
    std::printf("%lld %.6f\n", decoded, taken.count());
    return 0;
}
