#include "prefetchreader.h"

#include "pagealignedbuffer.h"

#include <cerrno>
#include <new>
#include <unistd.h>

PrefetchReader::PrefetchReader(int fd, long long end, std::size_t chunkSize, std::size_t failureStep)
    : m_fd(fd)
    , m_end(end > 0 ? end : 0)
    , m_chunkSize(chunkSize)
    , m_failureStep(failureStep)
    , m_chunkCount((m_end + static_cast<long long>(chunkSize) - 1) / static_cast<long long>(chunkSize))
    , m_reads(2, [this](long long &index) {
        if (!m_ended) {
            readChunk(index, m_slots[index % 2]);
            m_ended = m_slots[index % 2].chunk.size < m_slots[index % 2].chunk.wanted;
        }
        return true;
    })
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
    if (!isValid())
        return;
    // Without a thread of its own, each chunk is read inside push(), still one
    // ahead of the caller but not beside it: slower, still right.
    for (long long index = 0; index < 2 && index < m_chunkCount; ++index)
        m_reads.push(index);
}

PrefetchReader::~PrefetchReader()
{
    // Before the buffers go.
    m_reads.stop();
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
    // The previous chunk is no longer in use: its buffer takes the chunk
    // after this one. (The first two were asked for at the start.)
    if (index > 0 && index + 1 < m_chunkCount)
        m_reads.push(index + 1);
    m_reads.waitUntilDone(index + 1);
    chunk = m_slots[index % 2].chunk;
    if (chunk.size < chunk.wanted)
        m_finished = true;
    return true;
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
