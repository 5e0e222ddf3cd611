// The implanted-checksum reader on arbitrary image starts. The input follows
// 32 KiB of zeros: the sectors before the volume descriptors are only ever
// hashed, never parsed, so leaving them out of the input keeps it small and
// puts the fuzzer's mutations where the parsing happens. The image lives in
// a memfd and is read through both entry points, the descriptor and the path,
// and streamed from memory in pieces whose sizes the input picks.

#include "fuzzsupport.h"
#include "implantedchecksum.h"
#include "implantedmd5.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t SystemArea = 32768;

struct Calls
{
    long long abortAt = 0; // 0: never
    std::vector<std::pair<long long, long long>> seen; // (offset, total)
};

int onProgress(void *data, long long offset, long long total)
{
    auto *calls = static_cast<Calls *>(data);
    calls->seen.emplace_back(offset, total);
    return calls->abortAt != 0 && (long long)calls->seen.size() >= calls->abortAt ? 1 : 0;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

void check(int result, const Calls &calls, bool mayAbort)
{
    FuzzSupport::expect(result >= -1 && result <= 2, "a result the callers know");
    FuzzSupport::expect(result != 2 || mayAbort, "stopped only when the callback asked");
    if (result == -1) {
        FuzzSupport::expect(calls.seen.empty(), "no progress without checksum information");
        return;
    }
    FuzzSupport::expect(!calls.seen.empty() && calls.seen.front().first == 0, "the first call reports offset 0");
    const long long total = calls.seen.front().second;
    // A match over nothing would vouch for nothing.
    FuzzSupport::expect(total > 0, "the checked range is never empty");
    // Every call counts the bytes checked so far, except a finished check's
    // last one, which reports the volume size; a callback may stop the check
    // at that one too.
    for (std::size_t i = 0; i < calls.seen.size(); ++i) {
        FuzzSupport::expect(calls.seen[i].second == total, "the total stays the same for a whole check");
        if (i == 0 || i + 1 == calls.seen.size())
            continue;
        FuzzSupport::expect(calls.seen[i].first > calls.seen[i - 1].first, "progress only grows");
        FuzzSupport::expect(calls.seen[i].first <= total, "progress stays within the checked range");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication("fuzz_implantedmd5");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const int fd = memfd_create("image", MFD_CLOEXEC);
    FuzzSupport::expect(fd >= 0, "memfd_create");
    const QByteArray zeros(SystemArea, '\0');
    FuzzSupport::expect(writeAll(fd, zeros.constData(), zeros.size())
                            && writeAll(fd, reinterpret_cast<const char *>(data), size),
                        "the image is written");

    // The last input byte, when there is one, picks the progress call that stops the check.
    Calls calls;
    calls.abortAt = size > 0 ? data[size - 1] % 8 : 0;
    const int byDescriptor = mediaCheckFD(fd, onProgress, &calls);
    check(byDescriptor, calls, calls.abortAt != 0);

    Calls again;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int byPath = mediaCheckFile(path, onProgress, &again);
    check(byPath, again, false);
    if (byDescriptor != 2)
        FuzzSupport::expect(byPath == byDescriptor, "the path and the descriptor give the same verdict");

    Calls streamed;
    ImplantedChecksum checksum([&streamed](long long offset, long long total) {
        streamed.seen.emplace_back(offset, total);
        return true;
    });
    const QByteArray image = zeros + QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    checksum.start(image.constData(), image.size());
    for (qsizetype done = 0, i = 0; done < image.size(); ++i) {
        const qsizetype piece = std::min<qsizetype>(1 + (size > 0 ? data[i % size] * 131 : 4096), image.size() - done);
        checksum.update(image.constData() + done, std::size_t(piece));
        done += piece;
    }
    FuzzSupport::expect(ImplantedChecksum::toCResult(checksum.finish()) == byPath && streamed.seen == again.seen,
                        "streamed in pieces, the same verdict and progress as read from the file");

    ::close(fd);
    return 0;
}
