// Times the implanted-checksum check on a device or file, the way the helper
// runs it after writing: on a descriptor opened with O_DIRECT.
//
//   verifybench <device-or-file> [--buffered]
//
// Prints the verdict, the bytes checked, the time and MB/s (10^6 bytes per
// second). Exit status: 0 when the checksum matches, 1 otherwise.

#include "implantedmd5.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Progress
{
    long long last = 0;
    long long total = 0;
    int calls = 0;
};

int onProgress(void *data, long long offset, long long total)
{
    auto *progress = static_cast<Progress *>(data);
    progress->last = offset;
    progress->total = total;
    ++progress->calls;
    return 0;
}

const char *verdict(int result)
{
    switch (result) {
    case 1:
        return "PASS";
    case 0:
        return "FAIL";
    case -1:
        return "NA";
    case 2:
        return "ABORTED";
    default:
        return "UNUSABLE";
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <device-or-file> [--buffered]\n", argv[0]);
        return 2;
    }
    const bool buffered = argc > 2 && std::strcmp(argv[2], "--buffered") == 0;
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC | (buffered ? 0 : O_DIRECT));
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }

    Progress progress;
    const auto start = std::chrono::steady_clock::now();
    const int result = mediaCheckFD(fd, onProgress, &progress);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fd);

    const double megabytes = static_cast<double>(progress.total) / 1e6;
    std::printf("result %s (%d)\nbytes %lld\nseconds %.3f\nMB/s %.1f\n", verdict(result), result, progress.total,
                seconds, seconds > 0 ? megabytes / seconds : 0.0);
    return result == 1 ? 0 : 1;
}
