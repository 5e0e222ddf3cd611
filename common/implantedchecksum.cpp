#include "implantedchecksum.h"

#include "hex.h"
#include "isovolume.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long long AppDataOffset = 883;
constexpr std::size_t AppDataSize = 512;

// The implanted fragment sums were computed over 32 KiB steps; checking at
// any other granularity would disagree with them.
constexpr std::size_t StepSize = 32768;
constexpr std::size_t FragmentSumsLength = 60;
constexpr long long DefaultFragmentCount = 20;

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

} // namespace

ImplantedChecksum::ImplantedChecksum(Progress progress)
    : m_progress(std::move(progress))
{ }

bool ImplantedChecksum::start(const void *head, long long size)
{
    IsoVolume volume;
    if (!IsoVolume::find(head, size, volume)) {
        *this = ImplantedChecksum(std::move(m_progress));
        return false;
    }
    return start(volume);
}

bool ImplantedChecksum::start(const IsoVolume &volume)
{
    *this = ImplantedChecksum(std::move(m_progress));

    char text[AppDataSize];
    std::memcpy(text, volume.descriptor.data() + AppDataOffset, AppDataSize);
    text[AppDataSize - 1] = '\0';
    const char *md5Key = std::strstr(text, "ISO MD5SUM = ");
    const char *skipKey = std::strstr(text, "SKIPSECTORS = ");
    if (!md5Key || !skipKey || !parseDigest(md5Key + std::strlen("ISO MD5SUM = "), m_digest)
        || !parseSkipSectors(skipKey + std::strlen("SKIPSECTORS = "), m_skipSectors))
        return false;
    m_isoSize = volume.size();
    // implantisomd5 skips 15 sectors. A count outside the volume would have
    // the check read past its end (negative) or compare nothing at all (the
    // whole volume or more, which also overflows the byte count): either way
    // the field names no range that can be checked, so there is no usable
    // checksum information, rather than a match or a mismatch that no byte
    // of the image decided.
    if (m_skipSectors < 0 || m_skipSectors >= m_isoSize / IsoVolume::SectorSize)
        return false;
    m_appDataStart = volume.descriptorOffset + AppDataOffset;
    m_hasChecksum = true;

    // implantisomd5 writes fewer than 60 digits when fragments are shorter than
    // a step; the sums are nevertheless read as a fixed 60-character field,
    // which is what the positions of the later fragments refer to.
    bool hasFragmentSums = false;
    if (const char *sumsKey = std::strstr(text, "FRAGMENT SUMS = ")) {
        const char *sums = sumsKey + std::strlen("FRAGMENT SUMS = ");
        m_fragmentSums.assign(sums, strnlen(sums, FragmentSumsLength));
        hasFragmentSums = true;
    }
    long long fragmentCount = DefaultFragmentCount;
    if (const char *countKey = std::strstr(text, "FRAGMENT COUNT = "))
        fragmentCount = std::strtoll(countKey + std::strlen("FRAGMENT COUNT = "), nullptr, 10);
    const long long checked = total();
    if (hasFragmentSums && fragmentCount > 0 && fragmentCount <= static_cast<long long>(FragmentSumsLength)
        && checked / (fragmentCount + 1) > 0) {
        m_fragmentSize = checked / (fragmentCount + 1);
        m_perFragment = static_cast<long long>(FragmentSumsLength) / fragmentCount;
    }

    m_decided = false;
    if (m_progress && !m_progress(0, checked)) {
        m_decided = true;
        m_result = Result::Aborted;
        return false;
    }
    return true;
}

long long ImplantedChecksum::total() const
{
    return m_hasChecksum ? m_isoSize - m_skipSectors * IsoVolume::SectorSize : 0;
}

bool ImplantedChecksum::wantsMore() const
{
    return !m_decided && m_fed < total();
}

void ImplantedChecksum::update(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    while (size > 0 && wantsMore()) {
        const long long left = total() - m_fed;
        std::size_t length = std::min(size, StepSize - m_stepFill);
        if (static_cast<long long>(length) > left)
            length = static_cast<std::size_t>(left);
        feed(bytes, length);
        bytes += length;
        size -= length;
        if (m_stepFill == StepSize || m_fed == total())
            endStep();
    }
}

// Hashes bytes at m_fed, the area holding the checksum itself as spaces.
void ImplantedChecksum::feed(const std::uint8_t *data, std::size_t size)
{
    const long long end = m_fed + static_cast<long long>(size);
    const long long from = std::max(m_fed, m_appDataStart);
    const long long to = std::min(end, m_appDataStart + static_cast<long long>(AppDataSize));
    if (from < to) {
        static const std::string spaces(AppDataSize, ' ');
        m_md5.update(data, static_cast<std::size_t>(from - m_fed));
        m_md5.update(spaces.data(), static_cast<std::size_t>(to - from));
        m_md5.update(data + (to - m_fed), static_cast<std::size_t>(end - to));
    } else {
        m_md5.update(data, size);
    }
    m_fed = end;
    m_stepFill += size;
}

void ImplantedChecksum::endStep()
{
    const long long stepStart = m_fed - static_cast<long long>(m_stepFill);
    m_stepFill = 0;
    if (m_perFragment > 0) {
        const long long fragment = stepStart / m_fragmentSize;
        if (fragment != m_previousFragment) {
            m_previousFragment = fragment;
            // The running digest covers every byte fed so far, this step included.
            const Md5::Digest digest = m_md5.result();
            const std::string hex = toHex(digest);
            const long long first = (fragment - 1) * m_perFragment;
            for (long long i = 0; i < m_perFragment && i < static_cast<long long>(digest.size()); ++i) {
                // A fragment that has no stored sum cannot be checked; the whole digest still is.
                if (first + i >= static_cast<long long>(m_fragmentSums.size()))
                    break;
                // Each stored sum is the first digit of its byte written
                // without leading zero: the second of the two for a byte below 16.
                const auto byte = static_cast<std::size_t>(i);
                const char firstDigit = hex[2 * byte + (digest[byte] < 16 ? 1 : 0)];
                if (m_fragmentSums[static_cast<std::size_t>(first + i)] != firstDigit) {
                    m_decided = true;
                    m_result = Result::Mismatch;
                    return;
                }
            }
        }
    }
    if (m_progress && !m_progress(m_fed, total())) {
        m_decided = true;
        m_result = Result::Aborted;
    }
}

ImplantedChecksum::Result ImplantedChecksum::finish()
{
    if (m_decided)
        return m_result;
    // Data that ended inside a step: that step is all there is.
    if (m_stepFill > 0) {
        endStep();
        if (m_decided)
            return m_result;
    }
    m_decided = true;
    if (m_progress && !m_progress(m_isoSize, total())) {
        m_result = Result::Aborted;
        return m_result;
    }
    m_result = toHex(m_md5.result()) == m_digest ? Result::Match : Result::Mismatch;
    return m_result;
}

int ImplantedChecksum::toCResult(Result result)
{
    switch (result) {
    case Result::Match:
        return 1;
    case Result::Mismatch:
        return 0;
    case Result::NoChecksum:
        return -1;
    case Result::Aborted:
        break;
    }
    return 2;
}
