#include "devicewriter.h"

#include "implantedchecksum.h"
#include "job.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

DeviceWriter::DeviceWriter(int fd, std::size_t blockSize, std::size_t bufferPages)
    : m_fd(fd)
    , m_blockSize(blockSize)
    , m_writer(BufferCount, [this](long long &index) { return writeSlot(m_slots[index % BufferCount]); })
    , m_hasher(BufferCount, [this](long long &index) {
        hashSlot(index);
        return true;
    })
{
    for (Slot &slot : m_slots) {
        auto [owner, data, size] = pageAlignedBuffer(bufferPages);
        slot.owner = std::move(owner);
        slot.data = data;
        m_bufferSize = size;
    }
}

DeviceWriter::~DeviceWriter()
{
    m_writer.stop();
    m_hasher.stop();
}

char *DeviceWriter::acquire()
{
    // Both have room for one more when both are done with the buffer
    // submitted BufferCount buffers ago, the one handed out now.
    if (!m_writer.waitForRoom())
        return nullptr;
    m_hasher.waitForRoom();
    return m_slots[m_submitted % BufferCount].data;
}

void DeviceWriter::submit(std::size_t length, long long progress)
{
    Slot &slot = m_slots[m_submitted % BufferCount];
    slot.length = length;
    m_progress.push_back(progress);
    m_bytes += static_cast<long long>(length);
    // Without threads the buffer is hashed, then written, here and now:
    // slower, still right.
    m_hasher.push(m_submitted);
    m_writer.push(m_submitted);
    ++m_submitted;
}

bool DeviceWriter::finish()
{
    const bool written = m_writer.waitUntilIdle();
    m_hasher.waitUntilIdle();
    return written;
}

std::vector<long long> DeviceWriter::takeWritten()
{
    const long long written = m_writer.done();
    std::vector<long long> values;
    for (; m_reported < written; ++m_reported) {
        if (m_progress.front() != NoProgress)
            values.push_back(m_progress.front());
        m_progress.pop_front();
    }
    return values;
}

bool DeviceWriter::writeSlot(Slot &slot) const
{
    std::size_t padded = slot.length;
    if (slot.length % m_blockSize != 0) {
        padded = (slot.length / m_blockSize + 1) * m_blockSize;
        if (padded > m_bufferSize)
            return false;
        std::memset(slot.data + slot.length, 0, padded - slot.length);
    }
    const ssize_t written = ::write(m_fd, slot.data, padded);
    return written >= 0 && static_cast<std::size_t>(written) == padded;
}

void DeviceWriter::followChecksum(ImplantedChecksum *checksum)
{
    m_checksum = checksum;
}

void DeviceWriter::hashSlot(long long index)
{
    const Slot &slot = m_slots[index % BufferCount];
    m_hash.update(slot.data, slot.length);
    if (m_checksum && m_checksum->wantsMore())
        m_checksum->update(slot.data, slot.length);
}
