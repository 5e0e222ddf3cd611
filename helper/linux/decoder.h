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
