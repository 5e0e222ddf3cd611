// Linked into flashwright and helper in coverage builds. gcov writes a
// program's counts when it exits; a program ended by SIGTERM, SIGINT or SIGHUP
// (the tests end the program so, and the program ends running helpers so when
// it quits) would write none, nor one that ends through _Exit (the program
// does on a fatal message, which the tests provoke). Here such a signal first
// has the counts written, then ends the process as the signal would have, and
// _Exit writes them before it ends the process.
//
// SIGKILL cannot be caught. So that what is lost is known, each run leaves a
// file in FLASHWRIGHT_COVERAGE_RUNS naming the program and the processes that
// started it, and removes it when it exits or once a signal had its counts
// written: the files left after the tests are the runs whose counts are missing.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

extern "C" void __gcov_dump();

namespace {

// Plain data: set up before any constructor of this file runs.
int signalPipe[2] = { -1, -1 };
char marker[512];

std::string procLine(pid_t pid, const char *entry)
{
    std::string text;
    const std::string path = "/proc/" + std::to_string(pid) + "/" + entry;
    if (FILE *file = std::fopen(path.c_str(), "r")) {
        char buffer[512];
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        text.assign(buffer, n);
    }
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

pid_t parentOf(pid_t pid)
{
    // The fourth field of stat, after the name in parentheses.
    const std::string stat = procLine(pid, "stat");
    const size_t end = stat.rfind(')');
    return end == std::string::npos ? 0 : pid_t(std::atoi(stat.c_str() + end + 4));
}

void removeMarker()
{
    if (marker[0])
        unlink(marker);
}

void onSignal(int number)
{
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

// Away from the signal handler, where writing files is not safe.
void dumpOnSignal()
{
    unsigned char number = 0;
    while (read(signalPipe[0], &number, 1) != 1) {
        if (errno != EINTR)
            return;
    }
    __gcov_dump();
    removeMarker();
    std::signal(number, SIG_DFL);
    raise(number);
}

__attribute__((constructor)) void install()
{
    // "helper < tst_linuxdrive < ctest": which test started the run.
    std::string ancestry = procLine(getpid(), "comm");
    pid_t pid = getppid();
    for (int level = 0; level < 3 && pid > 1; ++level, pid = parentOf(pid))
        ancestry += " < " + procLine(pid, "comm");

    mkdir(FLASHWRIGHT_COVERAGE_RUNS, 0755);
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::snprintf(marker, sizeof marker, "%s/%d.%lld.%ld", FLASHWRIGHT_COVERAGE_RUNS, int(getpid()),
                  static_cast<long long>(now.tv_sec), now.tv_nsec);
    if (FILE *file = std::fopen(marker, "w")) {
        std::fprintf(file, "%s\n", ancestry.c_str());
        std::fclose(file);
    }
    std::atexit(removeMarker);

    if (pipe2(signalPipe, O_CLOEXEC) != 0)
        return;
    std::thread(dumpOnSignal).detach();
    // A signal the process was started to ignore stays ignored.
    for (int number : { SIGTERM, SIGINT, SIGHUP }) {
        struct sigaction action;
        if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_DFL)
            std::signal(number, onSignal);
    }
}

} // namespace

// Takes the place of the C library's for the program's own calls.
extern "C" void _Exit(int status) noexcept
{
    __gcov_dump();
    removeMarker();
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}
