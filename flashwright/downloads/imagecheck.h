#pragma once

#include "boundedworker.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// One check of an image file on disk, read on a thread of its own so that
// the window stays live: the MD5 of a file already in the downloads folder
// against the digest the catalogue announced, or the MD5 checksum implanted
// in an ISO image. The position is shown through progressed() at most every
// few tens of milliseconds, and the verdict arrives through finished(), both
// on the owner's thread. A check runs once; deleting it (or the program
// quitting) stops the reading and reports nothing.
//
// A verdict that is known already, because the download checked the file as
// it arrived, is passed through report(): it arrives like a check's, from the
// event loop, so that whoever follows the check sees the same road.
class ImageCheck : public QObject
{
    Q_OBJECT

public:
    enum class Result {
        Match,
        Mismatch,
        // The image carries no implanted checksum.
        NoChecksum,
        // The file could not be opened or read.
        Unreadable,
        // Stopped before it ended; never reported through finished().
        Aborted,
    };
    Q_ENUM(Result)

    explicit ImageCheck(QObject *parent = nullptr);
    ~ImageCheck() override;

    // expectedMd5: lower-case hexadecimal.
    void checkDigest(const QString &path, const QString &expectedMd5);
    void checkImplanted(const QString &path);
    void report(Result result);

    // Whether a verdict is still to come.
    [[nodiscard]] bool isRunning() const { return m_running; }
    // Stops the reading and waits for it; finished() does not come.
    void abort();

signals:
    void progressed(qint64 offset, qint64 total);
    void finished(ImageCheck::Result result);

private:
    void run(std::function<Result()> job);
    // On the reading thread: records the position; false once aborted.
    bool advance(long long offset, long long total);
    void showProgress();
    void end(Result result);

    bool m_running = false;
    std::atomic<bool> m_abort { false };
    std::atomic<long long> m_offset { 0 };
    std::atomic<long long> m_total { 0 };
    std::atomic<bool> m_progressPosted { false };
    // Reading side only: when progress was last posted, in milliseconds.
    qint64 m_lastPost = 0;
    std::unique_ptr<BoundedWorker<std::function<void()>>> m_worker;
};
