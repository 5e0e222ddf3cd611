#include "devicewriter.h"

#include "implantedchecksum.h"
#include "job.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <unistd.h>

DeviceWriter::DeviceWriter(int fd, std::size_t blockSize, std::size_t bufferPages)
    : m_fd(fd)
    , m_blockSize(blockSize)
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
    stopThreads();
}

void DeviceWriter::start()
{
    m_started = true;
    try {
        m_writer = std::thread(&DeviceWriter::writeLoop, this);
        m_hasher = std::thread(&DeviceWriter::hashLoop, this);
        m_threaded = true;
    } catch (const std::system_error &) {
        // Without threads every buffer is hashed and written as it comes:
        // slower, still right.
        stopThreads();
        m_threaded = false;
    }
}

void DeviceWriter::stopThreads()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    if (m_hasher.joinable())
        m_hasher.join();
}

long long DeviceWriter::doneCount() const
{
    return std::min(m_written, m_hashed);
}

char *DeviceWriter::acquire()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || m_submitted - doneCount() < BufferCount; });
    if (m_failed)
        return nullptr;
    return m_slots[m_submitted % BufferCount].data;
}

void DeviceWriter::submit(std::size_t length, long long progress)
{
    Slot &slot = m_slots[m_submitted % BufferCount];
    slot.length = length;
    m_progress.push_back(progress);
    m_bytes += static_cast<long long>(length);
    if (!m_started)
        start();

    if (!m_threaded) {
        hashSlot(m_submitted);
        const bool written = writeSlot(slot);
        ++m_submitted;
        if (!written) {
            m_failed = true;
            return;
        }
        ++m_written;
        ++m_hashed;
        return;
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_submitted;
    }
    m_changed.notify_all();
}

bool DeviceWriter::finish()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failed || doneCount() == m_submitted; });
    return !m_failed;
}

std::vector<long long> DeviceWriter::takeWritten()
{
    long long written;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        written = m_written;
    }
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

void DeviceWriter::writeLoop()
{
    for (long long index = 0;; ++index) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this, index] { return m_stop || m_submitted > index; });
            if (m_stop)
                return;
        }
        const bool written = writeSlot(m_slots[index % BufferCount]);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (written)
                ++m_written;
            else
                m_failed = true;
        }
        m_changed.notify_all();
        if (!written)
            return;
    }
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

void DeviceWriter::hashLoop()
{
    for (long long index = 0;; ++index) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this, index] { return m_stop || m_failed || m_submitted > index; });
            if (m_stop || m_failed)
                return;
        }
        hashSlot(index);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_hashed;
        }
        m_changed.notify_all();
    }
}
