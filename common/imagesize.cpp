#include "imagesize.h"

#include "xzindex.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool isCompressedImage(const QString &path)
{
    return path.endsWith(QLatin1String(".xz"));
}

ReceivedSize receivedSize(int fd, const QString &path)
{
    ReceivedSize size;
    size.compressed = isCompressedImage(path);
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return size;
    size.bytes = size.compressed ? xzDecodedSize(fd) : status.st_size;
    return size;
}

ReceivedSize receivedSize(const QString &path)
{
    ReceivedSize size;
    size.compressed = isCompressedImage(path);
    const QByteArray name = QFile::encodeName(path);
    if (!size.compressed) {
        // Its length is all there is to know; the file is not opened.
        struct stat status;
        if (stat(name.constData(), &status) == 0 && S_ISREG(status.st_mode))
            size.bytes = status.st_size;
        return size;
    }
    int fd;
    do {
        // Not blocking: a named pipe chosen as the image must not hang the window.
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return size;
    size = receivedSize(fd, path);
    ::close(fd);
    return size;
}
