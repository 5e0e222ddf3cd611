// Started by tst_install inside a mount namespace where the configured
// libexec folder holds a fresh installation: writes an image through
// LinuxDrive, as the program does, to the device the fake UDisks2 on the
// private system bus hands out, and reports which helper ran and how the
// image ended. It lives in a folder of its own, so that no helper stands
// beside it and the search has to go on to the installed one.
//
//   tst_install_writer <image> <UDisks2 block object>
//
// Prints "helper: <path>", "status: <name>" and "error: <text>"; exits 0
// when the write ran to its end (whatever its outcome), 1 otherwise.

#include "linuxdrive.h"
#include "privatebus.h"
#include "releasevariant.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaEnum>
#include <QTest>

#include <cstdio>

namespace {
void report(const ReleaseVariant &image)
{
    std::printf("status: %s\nerror: %s\n", QMetaEnum::fromType<ReleaseVariant::Status>().valueToKey(image.status()),
                qPrintable(image.errorString()));
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: tst_install_writer <image> <block object>\n");
        return 1;
    }
    QString why;
    if (!PrivateBus::isSystemBusPrivate(&why)) {
        std::fprintf(stderr, "refusing to write: %s\n", qPrintable(why));
        return 1;
    }
    std::printf("helper: %s\n", qPrintable(LinuxDrive::helperPath()));

    LinuxDrive drive(nullptr, arguments.at(2), QStringLiteral("Installed Test Stick"), 1ULL << 30, false);
    ReleaseVariant image(nullptr, arguments.at(1), QFileInfo(arguments.at(1)).size());
    if (!drive.write(&image)) {
        report(image);
        return 1;
    }
    const bool ended = QTest::qWaitFor([&] { return !drive.isBusy(); }, 60000);
    report(image);
    return ended ? 0 : 1;
}
