#include "hashworker.h"

#include "hex.h"

#include <system_error>

HashWorker::~HashWorker()
{
    if (!m_threaded)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void HashWorker::start()
{
    m_started = true;
    try {
        m_worker = std::thread(&HashWorker::run, this);
        m_threaded = true;
    } catch (const std::system_error &) {
        // Without a thread the chunks are hashed as they come: slower, still right.
        m_threaded = false;
    }
}

void HashWorker::add(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    if (!m_started)
        start();
    if (!m_threaded) {
        m_md5.update(chunk.constData(), std::size_t(chunk.size()));
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A chunk larger than the bound still goes in once nothing waits.
        m_changed.wait(lock, [this, &chunk] { return m_pending == 0 || m_pending + chunk.size() <= MaxPending; });
        m_queue.push_back(chunk);
        m_pending += chunk.size();
    }
    m_changed.notify_all();
}

void HashWorker::waitUntilIdle()
{
    if (!m_threaded)
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty(); });
}

void HashWorker::reset()
{
    waitUntilIdle();
    m_md5 = Md5();
}

QByteArray HashWorker::result()
{
    waitUntilIdle();
    return QByteArray::fromStdString(toHex(m_md5.result()));
}

void HashWorker::run()
{
    for (;;) {
        QByteArray chunk;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            chunk = m_queue.front();
        }
        // Taken off the queue only once hashed: an empty queue means idle.
        m_md5.update(chunk.constData(), std::size_t(chunk.size()));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.pop_front();
            m_pending -= chunk.size();
        }
        m_changed.notify_all();
    }
}
