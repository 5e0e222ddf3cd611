#include "implantedmd5.h"

#include "implantedchecksum.h"
#include "isovolume.h"
#include "prefetchreader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t ChunkSize = 4 << 20;
// A failed read is retried in pieces of a fragment-sum step, so that
// everything before a bad block is checked as if read step by step.
constexpr std::size_t StepSize = 32768;

constexpr int ResultUnusable = -2;

ImplantedChecksum::Progress progressOf(checkCallback callback, void *data)
{
    if (!callback)
        return {};
    return [callback, data](long long offset, long long total) { return callback(data, offset, total) == 0; };
}

bool usable(int fd)
{
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || S_ISDIR(status.st_mode))
        return false;
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_ACCMODE) != O_WRONLY;
}

} // namespace

int mediaCheckFile(const char *file, checkCallback callback, void *data)
{
    if (!file)
        return ResultUnusable;
    int fd;
    do {
        fd = open(file, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return ResultUnusable;
    const int result = mediaCheckFD(fd, callback, data);
    close(fd);
    return result;
}

int mediaCheckFD(int fd, checkCallback callback, void *data)
{
    return mediaCheckFD(fd, progressOf(callback, data));
}

int mediaCheckFD(int fd, const ImplantedChecksum::Progress &progress)
{
    if (!usable(fd))
        return ResultUnusable;
    IsoVolume volume;
    ImplantedChecksum checksum(progress);
    if (!IsoVolume::find(fd, volume) || !checksum.start(volume))
        return ImplantedChecksum::toCResult(checksum.finish());
    PrefetchReader reader(fd, checksum.total(), ChunkSize, StepSize);
    if (!reader.isValid())
        return ResultUnusable;
    PrefetchReader::Chunk chunk;
    while (checksum.wantsMore() && reader.next(chunk))
        checksum.update(chunk.data, chunk.size);
    return ImplantedChecksum::toCResult(checksum.finish());
}
