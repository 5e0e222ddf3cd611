#include "xxh3.h"

#include <QtGlobal>

#include <algorithm>
#include <iterator>
#include <xxhash.h>

Xxh3::Xxh3()
    : m_state(XXH3_createState())
{
    if (!m_state)
        qBadAlloc();
    XXH3_128bits_reset(m_state.get());
}

Xxh3::~Xxh3() = default;

void Xxh3::Free::operator()(XXH3_state_s *state) const
{
    XXH3_freeState(state);
}

void Xxh3::update(const void *data, std::size_t size)
{
    XXH3_128bits_update(m_state.get(), data, size);
}

Xxh3::Digest Xxh3::result() const
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_state.get()));
    Digest digest;
    static_assert(sizeof canonical.digest == sizeof(Digest));
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), digest.begin());
    return digest;
}
