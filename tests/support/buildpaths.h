#pragma once

#include <QString>

// Where the tests find what this build made. The helper is always the one
// just built, never one installed on the machine, which LinuxDrive would
// also accept.
namespace BuildPaths {
inline QString helper()
{
    return QStringLiteral(FLASHWRIGHT_BUILD_DIR "/bin/helper");
}
} // namespace BuildPaths
