#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// Reads [0, end) of a descriptor in large chunks into two page-aligned
// buffers, one chunk ahead of the consumer. The reads happen on a worker
// thread so that a device opened with O_DIRECT (which gets no read-ahead from
// the kernel) keeps streaming while the caller hashes the previous chunk; the
// caller's own work, including its callbacks, stays on the caller's thread.
//
// Offsets and lengths handed to the kernel are multiples of 4096, which
// satisfies O_DIRECT on 512- and 4096-byte devices; a range that ends inside a
// block reads the whole block and reports only the part in range.
class PrefetchReader
{
public:
    struct Chunk
    {
        std::uint8_t *data = nullptr;
        long long offset = 0;
        std::size_t wanted = 0; // bytes of the range in this chunk
        std::size_t size = 0; // bytes actually read, at most wanted; less means the data ends here
    };

    PrefetchReader(int fd, long long end, std::size_t chunkSize, std::size_t failureStep);
    ~PrefetchReader();
    PrefetchReader(const PrefetchReader &) = delete;
    PrefetchReader &operator=(const PrefetchReader &) = delete;

    [[nodiscard]] bool isValid() const;
    // The next chunk; its buffer stays the caller's until the following call.
    // Returns false when the range is exhausted or the previous chunk ended short.
    bool next(Chunk &chunk);

    static constexpr std::size_t Alignment = 4096;

private:
    struct Slot
    {
        std::unique_ptr<char[]> owner;
        std::uint8_t *buffer = nullptr;
        Chunk chunk;
        bool filled = false;
    };

    void run();
    void readChunk(long long index, Slot &slot) const;
    [[nodiscard]] std::size_t readSpan(std::uint8_t *buffer, long long offset, std::size_t length) const;

    const int m_fd;
    const long long m_end;
    const std::size_t m_chunkSize;
    const std::size_t m_failureStep;
    const long long m_chunkCount;

    Slot m_slots[2];
    long long m_nextIndex = 0;
    bool m_finished = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    bool m_threaded = false;
    std::thread m_worker;
};
