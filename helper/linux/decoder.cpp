#include "decoder.h"

#include "zipdirectory.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
// What the xz decoder may use, all its threads together.
constexpr uint64_t XzMemoryLimit = 268435456;
// zlib and libbz2 count in unsigned int.
constexpr std::size_t ChunkLimit = UINT_MAX;

class XzDecoder : public Decoder
{
public:
    bool start()
    {
        // Images made with xz -T have many blocks, which the decoder spreads
        // over the processors; a single-block file is decoded on one thread.
        // The memory limit covers all threads: beyond it the decoder uses
        // fewer, and a file that needs more even on one thread fails.
        lzma_mt options {};
        options.flags = LZMA_CONCATENATED;
        options.threads = std::max<uint32_t>(1, lzma_cputhreads());
        options.timeout = 0;
        options.memlimit_threading = XzMemoryLimit;
        options.memlimit_stop = XzMemoryLimit;
        return lzma_stream_decoder_mt(&m_stream, &options) == LZMA_OK;
    }
    ~XzDecoder() override { lzma_end(&m_stream); }

    Result decode(Buffers &b, bool inputEnded) override
    {
        m_stream.next_in = b.in;
        m_stream.avail_in = b.inLength;
        m_stream.next_out = b.out;
        m_stream.avail_out = b.outSpace;
        const lzma_ret result = lzma_code(&m_stream, inputEnded && b.inLength == 0 ? LZMA_FINISH : LZMA_RUN);
        b.in = m_stream.next_in;
        b.inLength = m_stream.avail_in;
        b.out = m_stream.next_out;
        b.outSpace = m_stream.avail_out;
        switch (result) {
        case LZMA_OK:
            return Result::More;
        case LZMA_STREAM_END:
            return Result::End;
        case LZMA_MEM_ERROR:
            return Result::OutOfMemory;
        case LZMA_FORMAT_ERROR:
        case LZMA_DATA_ERROR:
        case LZMA_BUF_ERROR:
            return Result::Corrupt;
        case LZMA_OPTIONS_ERROR:
            return Result::Unsupported;
        default:
            // Including LZMA_MEMLIMIT_ERROR: a file beyond the limit is
            // refused rather than allowed to take the machine's memory.
            return Result::Failed;
        }
    }

private:
    lzma_stream m_stream = LZMA_STREAM_INIT;
};

// gzip members one after another (as pigz and cat make them), or the raw
// deflate data of a zip entry.
class InflateDecoder : public Decoder
{
public:
    explicit InflateDecoder(bool gzip)
        : m_gzip(gzip)
    { }
    bool start()
    {
        // 16 + 15: a gzip wrapper, whose CRC-32 and length zlib checks;
        // -15: raw deflate, checked by the zip entry's CRC-32 instead.
        m_started = inflateInit2(&m_stream, m_gzip ? 16 + MAX_WBITS : -MAX_WBITS) == Z_OK;
        return m_started;
    }
    ~InflateDecoder() override
    {
        if (m_started)
            inflateEnd(&m_stream);
    }

    Result decode(Buffers &b, bool inputEnded) override
    {
        if (m_between) {
            if (b.inLength == 0)
                return inputEnded ? Result::End : Result::More;
            // Another member follows; one that is not gzip fails its header.
            if (!m_gzip || inflateReset(&m_stream) != Z_OK)
                return Result::Corrupt;
            m_between = false;
        }
        const auto inLength = static_cast<uInt>(std::min(b.inLength, ChunkLimit));
        const auto outSpace = static_cast<uInt>(std::min(b.outSpace, ChunkLimit));
        m_stream.next_in = const_cast<Bytef *>(b.in);
        m_stream.avail_in = inLength;
        m_stream.next_out = b.out;
        m_stream.avail_out = outSpace;
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        b.in += inLength - m_stream.avail_in;
        b.inLength -= inLength - m_stream.avail_in;
        b.out += outSpace - m_stream.avail_out;
        b.outSpace -= outSpace - m_stream.avail_out;
        switch (result) {
        case Z_OK:
            return Result::More;
        case Z_STREAM_END:
            m_between = true;
            // A zip entry is one deflate stream; what follows it is not ours.
            if (!m_gzip)
                return Result::End;
            return b.inLength == 0 && inputEnded ? Result::End : Result::More;
        case Z_BUF_ERROR:
            // No progress was possible: for want of output space, or of
            // input that will never come.
            return b.outSpace > 0 && b.inLength == 0 && inputEnded ? Result::Corrupt : Result::More;
        case Z_MEM_ERROR:
            return Result::OutOfMemory;
        case Z_DATA_ERROR:
        case Z_NEED_DICT:
            return Result::Corrupt;
        default:
            return Result::Failed;
        }
    }

private:
    z_stream m_stream {};
    const bool m_gzip;
    bool m_started = false;
    bool m_between = false;
};

// bzip2 streams one after another, as pbzip2 writes them.
class Bzip2Decoder : public Decoder
{
public:
    bool start()
    {
        m_started = BZ2_bzDecompressInit(&m_stream, 0, 0) == BZ_OK;
        return m_started;
    }
    ~Bzip2Decoder() override
    {
        if (m_started)
            BZ2_bzDecompressEnd(&m_stream);
    }

    Result decode(Buffers &b, bool inputEnded) override
    {
        if (!m_started) {
            if (b.inLength == 0)
                return inputEnded ? Result::End : Result::More;
            if (!start())
                return Result::OutOfMemory;
        }
        const auto inLength = static_cast<unsigned>(std::min(b.inLength, ChunkLimit));
        const auto outSpace = static_cast<unsigned>(std::min(b.outSpace, ChunkLimit));
        m_stream.next_in = const_cast<char *>(reinterpret_cast<const char *>(b.in));
        m_stream.avail_in = inLength;
        m_stream.next_out = reinterpret_cast<char *>(b.out);
        m_stream.avail_out = outSpace;
        const int result = BZ2_bzDecompress(&m_stream);
        const unsigned consumed = inLength - m_stream.avail_in;
        const unsigned produced = outSpace - m_stream.avail_out;
        b.in += consumed;
        b.inLength -= consumed;
        b.out += produced;
        b.outSpace -= produced;
        switch (result) {
        case BZ_OK:
            // libbz2 never says that input ran out for good: a pass that
            // could move nothing at the end of the file is a cut-off stream.
            if (consumed == 0 && produced == 0 && b.inLength == 0 && b.outSpace > 0 && inputEnded)
                return Result::Corrupt;
            return Result::More;
        case BZ_STREAM_END:
            BZ2_bzDecompressEnd(&m_stream);
            m_started = false;
            m_stream = bz_stream {};
            return b.inLength == 0 && inputEnded ? Result::End : Result::More;
        case BZ_MEM_ERROR:
            return Result::OutOfMemory;
        case BZ_DATA_ERROR:
        case BZ_DATA_ERROR_MAGIC:
            return Result::Corrupt;
        default:
            return Result::Failed;
        }
    }

private:
    bz_stream m_stream {};
    bool m_started = false;
};

// zstd frames one after another; the stream object starts each next frame by itself.
class ZstdDecoder : public Decoder
{
public:
    bool start()
    {
        m_stream = ZSTD_createDStream();
        return m_stream && !ZSTD_isError(ZSTD_initDStream(m_stream));
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(m_stream); }

    Result decode(Buffers &b, bool inputEnded) override
    {
        if (m_frameDone && b.inLength == 0)
            return inputEnded ? Result::End : Result::More;
        ZSTD_inBuffer in { b.in, b.inLength, 0 };
        ZSTD_outBuffer out { b.out, b.outSpace, 0 };
        const std::size_t result = ZSTD_decompressStream(m_stream, &out, &in);
        b.in += in.pos;
        b.inLength -= in.pos;
        b.out += out.pos;
        b.outSpace -= out.pos;
        if (ZSTD_isError(result)) {
            switch (ZSTD_getErrorCode(result)) {
            case ZSTD_error_memory_allocation:
            case ZSTD_error_frameParameter_windowTooLarge:
                return Result::OutOfMemory;
            case ZSTD_error_frameParameter_unsupported:
            case ZSTD_error_parameter_unsupported:
                return Result::Unsupported;
            case ZSTD_error_prefix_unknown:
            case ZSTD_error_corruption_detected:
            case ZSTD_error_checksum_wrong:
            case ZSTD_error_srcSize_wrong:
            case ZSTD_error_dictionary_wrong:
            case ZSTD_error_dictionary_corrupted:
                return Result::Corrupt;
            default:
                return Result::Failed;
            }
        }
        // 0: a frame is complete and all of it flushed.
        m_frameDone = result == 0;
        if (m_frameDone)
            return b.inLength == 0 && inputEnded ? Result::End : Result::More;
        if (in.pos == 0 && out.pos == 0 && b.inLength == 0 && b.outSpace > 0 && inputEnded)
            return Result::Corrupt;
        return Result::More;
    }

private:
    ZSTD_DStream *m_stream = nullptr;
    bool m_frameDone = false;
};

// A stored zip entry: its bytes as they are.
class StoredDecoder : public Decoder
{
public:
    Result decode(Buffers &b, bool inputEnded) override
    {
        const std::size_t n = std::min(b.inLength, b.outSpace);
        std::memcpy(b.out, b.in, n);
        b.in += n;
        b.inLength -= n;
        b.out += n;
        b.outSpace -= n;
        return b.inLength == 0 && inputEnded ? Result::End : Result::More;
    }
};

// The entry's data decoded, then held against the sizes and CRC-32 of the
// archive's directory: deflate data says where it ends, stored data does
// not, and neither carries a check of its own.
class ZipEntryDecoder : public Decoder
{
public:
    ZipEntryDecoder(std::unique_ptr<Decoder> data, const ZipDirectory &entry)
        : m_data(std::move(data))
        , m_size(entry.size)
        , m_crc(entry.crc)
    { }

    Result decode(Buffers &b, bool inputEnded) override
    {
        std::uint8_t *const start = b.out;
        const Result result = m_data->decode(b, inputEnded);
        for (std::uint8_t *p = start; p < b.out;) {
            const auto length = static_cast<uInt>(std::min<std::size_t>(std::size_t(b.out - p), ChunkLimit));
            m_sum = crc32(m_sum, p, length);
            p += length;
        }
        m_decoded += static_cast<std::uint64_t>(b.out - start);
        if (m_decoded > m_size)
            return Result::Corrupt;
        if (result == Result::End && (m_decoded != m_size || m_sum != m_crc))
            return Result::Corrupt;
        return result;
    }

private:
    std::unique_ptr<Decoder> m_data;
    const std::uint64_t m_size;
    const std::uint32_t m_crc;
    std::uint64_t m_decoded = 0;
    uLong m_sum = crc32(0, nullptr, 0);
};

template<typename T, typename... Args>
std::unique_ptr<Decoder> started(Args... args)
{
    auto decoder = std::make_unique<T>(args...);
    if (!decoder->start())
        return nullptr;
    return decoder;
}
} // namespace

Decoder::~Decoder() = default;

std::unique_ptr<Decoder> Decoder::create(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Xz:
        return started<XzDecoder>();
    case ImageFormat::Gzip:
        return started<InflateDecoder>(true);
    case ImageFormat::Bzip2:
        return started<Bzip2Decoder>();
    case ImageFormat::Zstd:
        return started<ZstdDecoder>();
    case ImageFormat::Zip:
    case ImageFormat::Plain:
        break;
    }
    return nullptr;
}

std::unique_ptr<Decoder> Decoder::create(const ZipDirectory &entry)
{
    std::unique_ptr<Decoder> data;
    if (entry.method == 0)
        data = std::make_unique<StoredDecoder>();
    else if (entry.method == 8)
        data = started<InflateDecoder>(false);
    if (!data)
        return nullptr;
    return std::make_unique<ZipEntryDecoder>(std::move(data), entry);
}
