#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

// One thread of its own that takes items in the order they were pushed and
// hands each to a consumer, while the caller goes on producing. The queue is
// bounded: push() waits while the items not yet consumed weigh more than the
// bound (weights are the caller's unit: bytes, buffers, jobs), which bounds
// the memory and keeps the producer at most that far ahead. An item heavier
// than the bound still goes in once nothing waits.
//
// The consumer returns false when it failed (a write refused by a drive):
// from then on nothing more is consumed, the waits return at once and say so.
//
// The thread starts with the first push(). When no thread can be made, every
// item is consumed inside push(), on the caller's thread: slower, still right.
// stop() (and the destructor) drops the items not yet taken and joins the
// thread; an item being consumed is finished first, so a consumer that may
// take long needs its own way to be told to give up.
template<typename Item>
class BoundedWorker
{
public:
    using Consume = std::function<bool(Item &item)>;

    BoundedWorker(std::size_t bound, Consume consume)
        : m_bound(bound)
        , m_consume(std::move(consume))
    { }
    ~BoundedWorker() { stop(); }
    BoundedWorker(const BoundedWorker &) = delete;
    BoundedWorker &operator=(const BoundedWorker &) = delete;

    // Waits until an item of this weight fits; false once the consumer failed.
    bool waitForRoom(std::size_t weight = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this, weight] { return m_failed || m_pending == 0 || m_pending + weight <= m_bound; });
        return !m_failed;
    }

    // Queues item once there is room; false (and item dropped) once the
    // consumer failed.
    bool push(Item item, std::size_t weight = 1)
    {
        if (!m_started)
            start();
        if (!m_threaded) {
            if (m_failed)
                return false;
            if (m_consume(item))
                ++m_done;
            else
                m_failed = true;
            return !m_failed;
        }
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this, weight] { return m_failed || m_pending == 0 || m_pending + weight <= m_bound; });
            if (m_failed)
                return false;
            m_queue.emplace_back(std::move(item), weight);
            m_pending += weight;
        }
        m_changed.notify_all();
        return true;
    }

    // Waits until every item pushed has been consumed; false when the
    // consumer failed.
    bool waitUntilIdle()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_failed || (m_queue.empty() && !m_busy); });
        return !m_failed;
    }

    // Waits until at least count items have been consumed; false when the
    // consumer failed first.
    bool waitUntilDone(long long count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this, count] { return m_failed || m_done >= count; });
        return m_done >= count;
    }

    // The items consumed so far, a failed one not counted.
    [[nodiscard]] long long done()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }

    void stop()
    {
        if (!m_threaded)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
        m_threaded = false;
    }

private:
    void start()
    {
        m_started = true;
        try {
            m_worker = std::thread(&BoundedWorker::run, this);
            m_threaded = true;
        } catch (const std::system_error &) {
            m_threaded = false;
        }
    }

    void run()
    {
        for (;;) {
            std::pair<Item, std::size_t> entry;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                if (m_stop)
                    return;
                entry = std::move(m_queue.front());
                m_queue.pop_front();
                m_busy = true;
            }
            const bool consumed = m_consume(entry.first);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_busy = false;
                m_pending -= entry.second;
                if (consumed)
                    ++m_done;
                else {
                    m_failed = true;
                    m_queue.clear();
                    m_pending = 0;
                }
            }
            m_changed.notify_all();
            if (!consumed)
                return;
        }
    }

    const std::size_t m_bound;
    const Consume m_consume;
    bool m_started = false;
    bool m_threaded = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<Item, std::size_t>> m_queue;
    std::size_t m_pending = 0;
    long long m_done = 0;
    bool m_busy = false;
    bool m_failed = false;
    bool m_stop = false;
    std::thread m_worker;
};
