#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace {
void fuzzMessageOutput(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
    std::fflush(stderr);
    std::abort();
}
} // namespace

namespace FuzzSupport {

void startApplication(const char *name)
{
    static int argc = 1;
    static char *argv[] = { const_cast<char *>(name), nullptr };
    qInstallMessageHandler(fuzzMessageOutput);
    // Targets write files for every input: in memory, where there is room.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    new QCoreApplication(argc, argv);
}

void expect(bool condition, const char *message)
{
    if (condition)
        return;
    std::fprintf(stderr, "broken expectation: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
