#include "prefetchreader.h"

#include "pagealignedbuffer.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <unistd.h>

PrefetchReader::PrefetchReader(int fd, long long end, std::size_t chunkSize, std::size_t failureStep)
    : m_fd(fd)
    , m_end(end > 0 ? end : 0)
    , m_chunkSize(chunkSize)
    , m_failureStep(failureStep)
    , m_chunkCount((m_end + static_cast<long long>(chunkSize) - 1) / static_cast<long long>(chunkSize))
{
    for (Slot &slot : m_slots) {
        try {
            // Whole pages: the last read of a chunk is rounded up to Alignment.
            auto [owner, start, size] = pageAlignedBuffer(pagesFor(m_chunkSize));
            slot.owner = std::move(owner);
            slot.buffer = reinterpret_cast<std::uint8_t *>(start);
        } catch (const std::bad_alloc &) {
            // Reported through isValid().
        }
    }
    if (!isValid() || m_chunkCount == 0)
        return;
    try {
        m_worker = std::thread(&PrefetchReader::run, this);
        m_threaded = true;
    } catch (const std::system_error &) {
        // Without a thread the chunks are read on demand; slower, still right.
        m_threaded = false;
    }
}

PrefetchReader::~PrefetchReader()
{
    if (m_threaded) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }
}

bool PrefetchReader::isValid() const
{
    return m_slots[0].buffer && m_slots[1].buffer;
}

bool PrefetchReader::next(Chunk &chunk)
{
    if (m_finished || m_nextIndex >= m_chunkCount || !isValid())
        return false;
    const long long index = m_nextIndex++;
    Slot &slot = m_slots[index % 2];
    Slot &previous = m_slots[(index + 1) % 2];

    if (!m_threaded) {
        readChunk(index, slot);
    } else {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The previous chunk is no longer in use: let the worker refill its
        // buffer. (Before the first chunk the other buffer may already hold
        // the second one.)
        if (index > 0) {
            previous.filled = false;
            m_changed.notify_all();
        }
        m_changed.wait(lock, [&slot] { return slot.filled; });
    }
    chunk = slot.chunk;
    if (chunk.size < chunk.wanted)
        m_finished = true;
    return true;
}

void PrefetchReader::run()
{
    for (long long index = 0; index < m_chunkCount; ++index) {
        Slot &slot = m_slots[index % 2];
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this, &slot] { return m_stop || !slot.filled; });
            if (m_stop)
                return;
        }
        readChunk(index, slot);
        bool ended;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.filled = true;
            ended = slot.chunk.size < slot.chunk.wanted;
        }
        m_changed.notify_all();
        if (ended)
            return;
    }
}

void PrefetchReader::readChunk(long long index, Slot &slot) const
{
    Chunk &chunk = slot.chunk;
    chunk.data = slot.buffer;
    chunk.offset = index * static_cast<long long>(m_chunkSize);
    const long long remaining = m_end - chunk.offset;
    chunk.wanted = remaining < static_cast<long long>(m_chunkSize) ? static_cast<std::size_t>(remaining) : m_chunkSize;
    const std::size_t length = (chunk.wanted + Alignment - 1) / Alignment * Alignment;
    const std::size_t got = readSpan(slot.buffer, chunk.offset, length);
    chunk.size = got < chunk.wanted ? got : chunk.wanted;
}

// Reads as much of the span as the descriptor gives. A failed read is retried
// in failure-step pieces, so that everything before a bad block still counts,
// just as if the whole range had been read in those pieces.
std::size_t PrefetchReader::readSpan(std::uint8_t *buffer, long long offset, std::size_t length) const
{
    std::size_t done = 0;
    bool pieces = false;
    while (done < length) {
        std::size_t request = length - done;
        if (pieces) {
            const std::size_t intoStep = static_cast<std::size_t>((offset + done) % m_failureStep);
            if (m_failureStep - intoStep < request)
                request = m_failureStep - intoStep;
        }
        const ssize_t n = pread(m_fd, buffer + done, request, offset + static_cast<long long>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !pieces) {
            pieces = true;
            continue;
        }
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
        // The end of a file; an O_DIRECT read could not continue from there anyway.
        if (done % Alignment != 0)
            break;
    }
    return done;
}
