#pragma once

#include "imageformat.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct ZipDirectory;

// One compressed stream decoded piece by piece into the caller's buffers:
// xz (on liblzma's multi-threaded decoder), gzip and the deflated entry of a
// zip archive (zlib), bzip2 (libbz2) and zstd (libzstd). Concatenated
// streams of one format decode as one, as the command-line tools do.
//
// The libraries are used directly rather than through libarchive, which
// wraps the same ones: libarchive 3.6 does not check a gzip stream's CRC-32
// and length (a gzip file with a wrong trailer decodes without complaint),
// and in bench/write/formats.sh it decoded zstd and zip images no faster and
// mostly slower (1 GiB image, best of 5 on a loaded machine: zstd 0.47 s
// direct against 2.28 s, zip 1.49 s against 4.44 s; gzip 3.79 s against
// 1.84 s, the difference being the CRC-32 that zlib checks and libarchive
// skips). The helper also needs a zip archive's directory before it touches
// the drive, to refuse an archive that does not hold exactly one file.
class Decoder
{
public:
    enum class Result {
        // Call again: after refilling the input when it is used up, after
        // emptying the output when it is full.
        More,
        // The whole stream is decoded; no more output will come.
        End,
        Corrupt,
        OutOfMemory,
        Unsupported,
        Failed,
    };

    struct Buffers
    {
        const std::uint8_t *in = nullptr;
        std::size_t inLength = 0;
        std::uint8_t *out = nullptr;
        std::size_t outSpace = 0;
    };

    virtual ~Decoder();

    // Decodes from in to out, advancing both. inputEnded says that the file
    // has no more bytes after those in the buffers: a stream cut short there
    // is corrupt.
    virtual Result decode(Buffers &buffers, bool inputEnded) = 0;

    // Null when the format needs no decoder (Plain) or the decoder cannot
    // be started. For a zip archive, the decoder of its one file's data.
    static std::unique_ptr<Decoder> create(ImageFormat format);
    static std::unique_ptr<Decoder> create(const ZipDirectory &entry);
};
