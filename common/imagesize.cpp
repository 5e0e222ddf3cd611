#include "imagesize.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ImageFormat formatOfPath(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    return formatOfName(std::string_view(name.constData(), std::size_t(name.size())));
}

bool isCompressedImage(const QString &path)
{
    return formatOfPath(path) != ImageFormat::Plain;
}

ReceivedSize receivedSize(int fd, const QString &path)
{
    ReceivedSize size;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        // Nothing can be read of it without blocking: the name says.
        size.compressed = isCompressedImage(path);
        return size;
    }
    const ImageFormat format = decodingFormat(formatOfFile(fd), formatOfPath(path));
    size.compressed = format != ImageFormat::Plain;
    if (!size.compressed) {
        size.bytes = status.st_size;
        return size;
    }
    const DecodedSize decoded = decodedSize(fd, format);
    // A lower bound of nothing says nothing (an empty first frame).
    if (decoded.exact || decoded.bytes > 0) {
        size.bytes = decoded.bytes;
        size.lowerBound = !decoded.exact;
    }
    return size;
}

ReceivedSize receivedSize(const QString &path)
{
    ReceivedSize size;
    size.compressed = isCompressedImage(path);
    int fd;
    do {
        // Not blocking: a named pipe chosen as the image must not hang the window.
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return size;
    size = receivedSize(fd, path);
    ::close(fd);
    return size;
}
