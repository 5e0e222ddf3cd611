#pragma once

#include "md5.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The MD5 of a stream of chunks, computed on a thread of its own so that the
// download goes on receiving and writing while the hash catches up. Chunks
// are hashed in the order they are added. At most MaxPending bytes wait at a
// time: add() blocks until there is room, which bounds the memory and costs
// the caller no longer than the worker needs for that much data (a few
// milliseconds). The chunks are shared, not copied.
class HashWorker
{
public:
    static constexpr qsizetype MaxPending = 4 << 20;

    HashWorker() = default;
    ~HashWorker();
    HashWorker(const HashWorker &) = delete;
    HashWorker &operator=(const HashWorker &) = delete;

    void add(const QByteArray &chunk);
    // Once everything added is hashed, starts the digest afresh.
    void reset();
    // Once everything added is hashed: its digest in lower-case hexadecimal.
    [[nodiscard]] QByteArray result();

private:
    void start();
    void run();
    void waitUntilIdle();

    Md5 m_md5;
    bool m_started = false;
    bool m_threaded = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    qsizetype m_pending = 0;
    bool m_stop = false;
    std::thread m_worker;
};
