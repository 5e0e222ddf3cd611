#pragma once

#include <cstddef>
#include <cstdint>

// What the fuzz targets share.
namespace FuzzSupport {

// A QCoreApplication for the rest of the process (timers, posted events and
// event loops need one), and a message handler that drops every message
// below fatal and turns a fatal one (a model tester's complaint, a broken
// expectation of the target) into an abort with the message on standard
// error, which the fuzzer reports as a crash with its input. Temporary files
// go to /dev/shm when it can be written.
void startApplication(const char *name);

// Aborts with the message when condition is false.
void expect(bool condition, const char *message);

} // namespace FuzzSupport
