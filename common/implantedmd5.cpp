#include "implantedmd5.h"

#include "isovolume.h"
#include "md5.h"
#include "prefetchreader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr long long SectorSize = IsoVolume::SectorSize;
constexpr long long AppDataOffset = 883;
constexpr std::size_t AppDataSize = 512;

// The implanted fragment sums were computed over 32 KiB steps; checking at
// any other granularity would disagree with them.
constexpr std::size_t StepSize = 32768;
constexpr std::size_t ChunkSize = 4 << 20;
constexpr std::size_t FragmentSumsLength = 60;
constexpr int DefaultFragmentCount = 20;

constexpr int ResultUnusable = -2;
constexpr int ResultNoInfo = -1;
constexpr int ResultMismatch = 0;
constexpr int ResultMatch = 1;
constexpr int ResultAborted = 2;

struct ImplantInfo
{
    long long appDataStart = 0;
    long long isoSize = 0;
    long long skipSectors = 0;
    std::string md5;
    std::string fragmentSums;
    bool hasFragmentSums = false;
    long long fragmentCount = DefaultFragmentCount;
};

// The parsing rules below are those of checkisomd5, whose verdicts the
// reader must share: the digest is the 32 characters after its key, and the
// number of skipped sectors must end at a ';'. A field that breaks these
// rules means there is no usable checksum information.
bool parseDigest(const char *value, std::string &digest)
{
    for (int i = 0; i < 32; ++i) {
        if (value[i] == '\0' || value[i] == ';')
            return false;
    }
    digest.assign(value, 32);
    return true;
}

bool parseSkipSectors(const char *value, long long &sectors)
{
    char *end = nullptr;
    sectors = std::strtoll(value, &end, 10);
    return *end == ';';
}

bool parseAppData(const std::uint8_t *appData, ImplantInfo &info)
{
    char text[AppDataSize];
    std::memcpy(text, appData, AppDataSize);
    text[AppDataSize - 1] = '\0';

    const char *md5Key = std::strstr(text, "ISO MD5SUM = ");
    const char *skipKey = std::strstr(text, "SKIPSECTORS = ");
    if (!md5Key || !skipKey)
        return false;
    if (!parseDigest(md5Key + std::strlen("ISO MD5SUM = "), info.md5))
        return false;
    if (!parseSkipSectors(skipKey + std::strlen("SKIPSECTORS = "), info.skipSectors))
        return false;

    // implantisomd5 writes fewer than 60 digits when fragments are shorter than
    // a step; the sums are nevertheless read as a fixed 60-character field,
    // which is what the positions of the later fragments refer to.
    if (const char *sumsKey = std::strstr(text, "FRAGMENT SUMS = ")) {
        const char *sums = sumsKey + std::strlen("FRAGMENT SUMS = ");
        info.fragmentSums.assign(sums, strnlen(sums, FragmentSumsLength));
        info.hasFragmentSums = true;
    }
    if (const char *countKey = std::strstr(text, "FRAGMENT COUNT = "))
        info.fragmentCount = std::strtoll(countKey + std::strlen("FRAGMENT COUNT = "), nullptr, 10);
    return true;
}

bool readImplantInfo(const IsoVolume &volume, bool found, ImplantInfo &info)
{
    if (!found)
        return false;
    info.isoSize = volume.size();
    info.appDataStart = volume.descriptorOffset + AppDataOffset;
    if (!parseAppData(volume.descriptor.data() + AppDataOffset, info))
        return false;
    // implantisomd5 skips 15 sectors. A count outside the volume would have
    // the check read past its end (negative) or compare nothing at all (the
    // whole volume or more, which also overflows the byte count): either way
    // the field names no range that can be checked, so there is no usable
    // checksum information, rather than a match or a mismatch that no byte
    // of the image decided.
    return info.skipSectors >= 0 && info.skipSectors < info.isoSize / SectorSize;
}

bool readImplantInfo(int fd, ImplantInfo &info)
{
    IsoVolume volume;
    const bool found = IsoVolume::find(fd, volume);
    return readImplantInfo(volume, found, info);
}

bool readImplantInfo(const void *head, long long size, ImplantInfo &info)
{
    IsoVolume volume;
    const bool found = IsoVolume::find(head, size, volume);
    return readImplantInfo(volume, found, info);
}

char firstHexDigit(std::uint8_t byte)
{
    static const char digits[] = "0123456789abcdef";
    return digits[byte >= 16 ? byte >> 4 : byte];
}

bool fragmentMatches(const Md5 &running, long long fragment, long long perFragment, const std::string &sums)
{
    const Md5::Digest digest = running.result();
    const long long start = (fragment - 1) * perFragment;
    for (long long i = 0; i < perFragment && i < static_cast<long long>(digest.size()); ++i) {
        // A fragment that has no stored sum cannot be checked; the whole digest still is.
        if (start + i >= static_cast<long long>(sums.size()))
            return true;
        if (sums[start + i] != firstHexDigit(digest[i]))
            return false;
    }
    return true;
}

std::string hexDigest(const Md5::Digest &digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

// The bytes from offset 0 that the checksum covers; never empty, since
// readImplantInfo bounds the skipped sectors to the volume.
long long checkedLength(const ImplantInfo &info)
{
    return info.isoSize - info.skipSectors * SectorSize;
}

int check(int fd, const ImplantInfo &info, checkCallback callback, void *data)
{
    const long long total = checkedLength(info);

    const bool checkFragments = info.hasFragmentSums && info.fragmentCount > 0
        && info.fragmentCount <= static_cast<long long>(FragmentSumsLength) && total / (info.fragmentCount + 1) > 0;
    const long long fragmentSize = checkFragments ? total / (info.fragmentCount + 1) : 1;
    const long long perFragment = checkFragments ? static_cast<long long>(FragmentSumsLength) / info.fragmentCount : 0;

    if (callback && callback(data, 0, total))
        return ResultAborted;

    PrefetchReader reader(fd, total, ChunkSize, StepSize);
    if (!reader.isValid())
        return ResultUnusable;

    Md5 md5;
    long long done = 0;
    long long previousFragment = 0;
    PrefetchReader::Chunk chunk;
    while (reader.next(chunk)) {
        for (std::size_t position = 0; position < chunk.size; position += StepSize) {
            const std::size_t length = chunk.size - position < StepSize ? chunk.size - position : StepSize;
            const long long stepStart = chunk.offset + static_cast<long long>(position);
            std::uint8_t *step = chunk.data + position;

            // The area holding the checksum itself counts as spaces.
            const long long from = std::max(stepStart, info.appDataStart);
            const long long to = std::min(stepStart + static_cast<long long>(length),
                                          info.appDataStart + static_cast<long long>(AppDataSize));
            if (from < to)
                std::memset(step + (from - stepStart), ' ', static_cast<std::size_t>(to - from));

            md5.update(step, length);
            if (checkFragments) {
                const long long fragment = stepStart / fragmentSize;
                if (fragment != previousFragment) {
                    if (!fragmentMatches(md5, fragment, perFragment, info.fragmentSums))
                        return ResultMismatch;
                    previousFragment = fragment;
                }
            }
            done += static_cast<long long>(length);
            if (callback && callback(data, done, total))
                return ResultAborted;
        }
    }

    if (callback && callback(data, info.isoSize, total))
        return ResultAborted;
    return hexDigest(md5.result()) == info.md5 ? ResultMatch : ResultMismatch;
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
    if (!usable(fd))
        return ResultUnusable;
    ImplantInfo info;
    if (!readImplantInfo(fd, info))
        return ResultNoInfo;
    return check(fd, info, callback, data);
}

int mediaCheckHead(const void *head, long long size)
{
    ImplantInfo info;
    return readImplantInfo(head, size, info) ? ResultMatch : ResultNoInfo;
}

long long mediaCheckHeadLength(const void *head, long long size)
{
    ImplantInfo info;
    return readImplantInfo(head, size, info) ? checkedLength(info) : -1;
}

int mediaCheckFDWithHead(int fd, const void *head, long long size, checkCallback callback, void *data)
{
    if (!usable(fd))
        return ResultUnusable;
    ImplantInfo info;
    if (!readImplantInfo(head, size, info))
        return ResultNoInfo;
    return check(fd, info, callback, data);
}
