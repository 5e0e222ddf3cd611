#include "imagecheck.h"

#include "hex.h"
#include "implantedmd5.h"
#include "md5.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t ChunkSize = 4 << 20;
// How often the position is shown: often enough for a bar that moves
// smoothly, rare enough to cost nothing next to the reading.
constexpr qint64 ProgressInterval = 40;

qint64 monotonicMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A descriptor of a file that can be read, or -1.
class ReadableFile
{
public:
    explicit ReadableFile(const QString &path)
    {
        const QByteArray name = QFile::encodeName(path);
        do {
            m_fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR);
        struct stat status;
        if (m_fd >= 0 && (fstat(m_fd, &status) != 0 || S_ISDIR(status.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
        m_size = m_fd >= 0 ? status.st_size : -1;
    }
    ~ReadableFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadableFile(const ReadableFile &) = delete;
    ReadableFile &operator=(const ReadableFile &) = delete;

    [[nodiscard]] int fd() const { return m_fd; }
    [[nodiscard]] long long size() const { return m_size; }

private:
    int m_fd = -1;
    long long m_size = -1;
};

} // namespace

ImageCheck::ImageCheck(QObject *parent)
    : QObject(parent)
{
    // A check must not outlive the program's objects.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &ImageCheck::abort);
}

ImageCheck::~ImageCheck()
{
    abort();
}

void ImageCheck::checkDigest(const QString &path, const QString &expectedMd5)
{
    const QByteArray expected = expectedMd5.toLatin1();
    run([this, path, expected]() {
        ReadableFile file(path);
        if (file.fd() < 0)
            return Result::Unreadable;
        const long long total = file.size();
        std::vector<char> buffer(ChunkSize);
        Md5 md5;
        long long done = 0;
        advance(0, total);
        for (;;) {
            const ssize_t count = ::read(file.fd(), buffer.data(), buffer.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return Result::Unreadable;
            if (count == 0)
                break;
            md5.update(buffer.data(), std::size_t(count));
            done += count;
            if (!advance(done, total))
                return Result::Aborted;
        }
        return toHex(md5.result()) == expected.toStdString() ? Result::Match : Result::Mismatch;
    });
}

void ImageCheck::checkImplanted(const QString &path)
{
    run([this, path]() {
        ReadableFile file(path);
        const int verdict = file.fd() < 0
            ? -2
            : mediaCheckFD(file.fd(), [this](long long offset, long long total) { return advance(offset, total); });
        switch (verdict) {
        case 1:
            return Result::Match;
        case 0:
            return Result::Mismatch;
        case -1:
            return Result::NoChecksum;
        case -2:
            return Result::Unreadable;
        default:
            return Result::Aborted;
        }
    });
}

void ImageCheck::report(Result result)
{
    m_running = true;
    // A verdict on the whole image: its check has reached the end.
    if (result == Result::Match || result == Result::Mismatch) {
        m_offset = 1;
        m_total = 1;
    }
    QMetaObject::invokeMethod(
        this, [this, result]() { end(result); }, Qt::QueuedConnection);
}

void ImageCheck::run(std::function<Result()> job)
{
    m_running = true;
    m_abort = false;
    m_progressPosted = false;
    m_lastPost = 0;
    m_worker = std::make_unique<BoundedWorker<std::function<void()>>>(1, [](std::function<void()> &task) {
        task();
        return true;
    });
    m_worker->push([this, job]() {
        const Result result = job();
        if (result != Result::Aborted)
            QMetaObject::invokeMethod(
                this, [this, result]() { end(result); }, Qt::QueuedConnection);
    });
}

void ImageCheck::end(Result result)
{
    if (!m_running)
        return;
    if (m_worker)
        m_worker->stop();
    // The last position, which the throttle may have held back.
    showProgress();
    m_running = false;
    emit finished(result);
}

bool ImageCheck::advance(long long offset, long long total)
{
    m_offset.store(offset, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
    const qint64 now = monotonicMilliseconds();
    if (offset >= total || now - m_lastPost >= ProgressInterval) {
        // At most one progress event waits in the owner's queue.
        if (!m_progressPosted.exchange(true)) {
            m_lastPost = now;
            QMetaObject::invokeMethod(this, &ImageCheck::showProgress, Qt::QueuedConnection);
        }
    }
    return !m_abort.load();
}

void ImageCheck::showProgress()
{
    m_progressPosted = false;
    if (!m_running)
        return;
    const long long total = m_total.load(std::memory_order_relaxed);
    // The implanted check ends with the image's size, which may pass the checked length.
    const long long offset = std::min(m_offset.load(std::memory_order_relaxed), total);
    if (total > 0)
        emit progressed(offset, total);
}

void ImageCheck::abort()
{
    if (!m_running)
        return;
    m_abort = true;
    if (m_worker)
        m_worker->stop();
    m_running = false;
}
