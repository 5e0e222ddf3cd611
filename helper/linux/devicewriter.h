#pragma once

#include "boundedworker.h"
#include "xxh3.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

class ImplantedChecksum;

// Writes a stream of buffers to the device on a thread of its own and hashes
// the same bytes (XXH3, for the read-back check) on another, while the caller
// fills the next buffer: reading the image, decoding it, writing to the
// device and hashing then all go on at once, and the copy runs at the speed
// of the slowest of them rather than of their sum.
//
// The hashing thread can also feed the implanted-checksum check of an ISO
// with the bytes sent (followChecksum()). Its MD5 is slower than a fast drive:
// whichever pass it runs beside, the copy or the read-back, takes as long as
// MD5 does, and the other runs at the drive's speed. Flash drives read faster
// than they write, so the read-back is the pass to leave free (a 1 GiB ISO
// onto a loop device, medians of 5: 1.85 s with MD5 beside the copy, 2.12 s
// beside the read-back, 1.95 s with half beside each).
//
// Buffers are page-aligned, of 1024 pages unless asked otherwise, and BufferCount of them circulate:
// acquire() hands out the next free one, submit() queues it. They are written
// and hashed in the order submitted. The last buffer may be short; its write
// is padded with zeros up to the device's logical block size, since O_DIRECT
// refuses shorter transfers, but the padding is not hashed and not counted.
class DeviceWriter
{
public:
    static constexpr int BufferCount = 4;
    static constexpr long long NoProgress = -1;

    DeviceWriter(int fd, std::size_t blockSize, std::size_t bufferPages = 1024);
    // Stops both threads; buffers not yet written are dropped.
    ~DeviceWriter();
    DeviceWriter(const DeviceWriter &) = delete;
    DeviceWriter &operator=(const DeviceWriter &) = delete;

    [[nodiscard]] std::size_t bufferSize() const { return m_bufferSize; }

    // The next buffer to fill, once one is free; null after a failed write.
    char *acquire();
    // Queues the buffer from acquire() holding length bytes. progress, when
    // given, is handed back by takeWritten() once the buffer is on the device.
    void submit(std::size_t length, long long progress = NoProgress);
    // Waits until everything submitted is written and hashed; false when a
    // write failed (short, or refused by the device).
    bool finish();

    // Feeds the bytes submitted from now on, which must start at offset 0 of
    // the image, to checksum on the hashing thread; the check is the caller's
    // again once finish() has returned. Call before the first submit().
    void followChecksum(ImplantedChecksum *checksum);

    // The progress values of the buffers written since the last call, in order.
    std::vector<long long> takeWritten();

    // After finish(): the bytes submitted and their XXH3.
    [[nodiscard]] long long bytes() const { return m_bytes; }
    [[nodiscard]] Xxh3::Digest digest() const { return m_hash.result(); }

private:
    struct Slot
    {
        std::unique_ptr<char[]> owner;
        char *data = nullptr;
        std::size_t length = 0;
    };

    void hashSlot(long long index);
    [[nodiscard]] bool writeSlot(Slot &slot) const;

    const int m_fd;
    const std::size_t m_blockSize;
    std::size_t m_bufferSize = 0;
    Slot m_slots[BufferCount];
    Xxh3 m_hash;
    ImplantedChecksum *m_checksum = nullptr;
    long long m_bytes = 0;
    // The caller's side: progress values of the buffers not yet reported.
    std::deque<long long> m_progress;
    long long m_submitted = 0;
    long long m_reported = 0;

    // Each takes the indexes of the buffers submitted; a buffer is free again
    // once both are done with it. Last, so that they stop before the buffers go.
    BoundedWorker<long long> m_writer;
    BoundedWorker<long long> m_hasher;
};
