#pragma once

// What the helper tells the program that started it: one word a line on
// standard output besides the byte counts, and its exit status. Both the
// helper and LinuxDrive spell them from here, so that a change to one end
// cannot leave the other behind unnoticed.
namespace HelperProtocol {

// Delayed mode only: the awaited download has finished and copying starts;
// always followed by the line "1".
inline constexpr char Write[] = "WRITE";
// Copying has finished; the counts that follow are verification offsets.
inline constexpr char Check[] = "CHECK";
// The written data has been verified (or there was nothing to verify it
// against); the helper ends with ExitStatus::Success.
inline constexpr char Done[] = "DONE";

// The exit status. The numbers mean different things for the two jobs;
// each job spells them by its own names.
enum class ExitStatus : int {
    Success = 0,
    // Not "write <image> <device>" nor "restore <device>".
    WrongArguments = 1,

    // The write job.
    // The data read back differs from the image, or the verification could
    // not run, or the image does not match its implanted checksum.
    VerificationFailed = 1,
    // The device could not be opened (or its filesystems unmounted, or the
    // UDisks2 object list read), or the image could not be opened, or the
    // image was refused before the drive was touched.
    OpeningFailed = 2,
    // Reading the image or writing the device failed while copying.
    CopyingFailed = 3,
    // Decompressing an .xz image failed; in delayed mode also a partial file
    // that disappeared without a finished one, or a failed copy.
    DecompressionFailed = 4,

    // The restore job.
    // Opening the device, wiping it or creating the partition table failed.
    WipingFailed = 1,
    PartitioningFailed = 2,
    FormattingFailed = 3,
};

constexpr int exitCode(ExitStatus status)
{
    return static_cast<int>(status);
}

} // namespace HelperProtocol
