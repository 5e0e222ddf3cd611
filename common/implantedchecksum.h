#pragma once

#include "md5.h"

#include <cstddef>
#include <functional>
#include <string>

struct IsoVolume;

// The check of the MD5 checksum that implantisomd5 stores in the
// application-use area of an ISO image's primary volume descriptor, fed with
// the image's bytes as they come: from a file, from a drive being read back,
// or from a download as it arrives. It holds no descriptor and no thread;
// whoever has the bytes hands them over, in order, in pieces of any size.
//
// First start() with the primary descriptor (or the start of the image that
// holds it), then update() with the bytes from offset 0 on, then finish().
// The checksum covers [0, total()): the volume without its skipped sectors,
// with the 512-byte application-use area counted as spaces. Bytes past that
// range are ignored, so the whole image may be fed.
//
// The fragment sums were made over 32 KiB steps, so the check points and the
// progress calls follow those steps whatever the size of the pieces: the
// progress gets (0, total) at start(), (bytes checked, total) after each
// step, and (volume size, total) at finish(). It returns false to stop the
// check. A fragment that differs decides the verdict at once; further bytes
// are then ignored and wantsMore() turns false.
class ImplantedChecksum
{
public:
    enum class Result {
        Match,
        Mismatch,
        NoChecksum, // the image carries no usable checksum information
        Aborted, // the progress callback asked to stop
    };
    using Progress = std::function<bool(long long offset, long long total)>;

    explicit ImplantedChecksum(Progress progress = {});

    // Reads the checksum information from the first size bytes of the image,
    // or from its primary descriptor. False when there is none (finish() then
    // says NoChecksum), or when the progress stopped the check at once.
    bool start(const void *head, long long size);
    bool start(const IsoVolume &volume);

    [[nodiscard]] bool hasChecksum() const { return m_hasChecksum; }
    // The bytes from offset 0 that the checksum covers; 0 without a checksum.
    [[nodiscard]] long long total() const;
    // The bytes taken so far, counted from offset 0.
    [[nodiscard]] long long fed() const { return m_fed; }
    // Whether further bytes can still change the verdict.
    [[nodiscard]] bool wantsMore() const;

    // The image's next bytes, continuing at fed().
    void update(const void *data, std::size_t size);
    // The verdict on what was fed; a range fed only in part is a mismatch
    // (what could not be read does not match).
    Result finish();

    // The same verdict in the numbers of the C interface (implantedmd5.h).
    static int toCResult(Result result);

private:
    void endStep();
    void feed(const std::uint8_t *data, std::size_t size);

    Progress m_progress;
    bool m_hasChecksum = false;
    // Nothing to check until start() finds checksum information.
    bool m_decided = true;
    Result m_result = Result::NoChecksum;

    // What the application-use area says.
    long long m_appDataStart = 0;
    long long m_isoSize = 0;
    long long m_skipSectors = 0;
    std::string m_digest;
    std::string m_fragmentSums;
    long long m_fragmentSize = 1;
    long long m_perFragment = 0;

    Md5 m_md5;
    long long m_fed = 0;
    std::size_t m_stepFill = 0;
    long long m_previousFragment = 0;
};
