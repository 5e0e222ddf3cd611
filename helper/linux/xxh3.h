#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct XXH3_state_s;

// XXH3 with 128-bit results (libxxhash), fed in pieces: the helper's
// comparison of the bytes sent to a drive with the bytes read back from it.
// Not a checksum anyone publishes, only a fingerprint of our own, so it can
// be the fastest one that still notices any damage: it hashes at memory
// speed, where MD5 would be the slowest stage of a write to a fast drive.
class Xxh3
{
public:
    using Digest = std::array<std::uint8_t, 16>;

    Xxh3();
    ~Xxh3();
    Xxh3(const Xxh3 &) = delete;
    Xxh3 &operator=(const Xxh3 &) = delete;

    void update(const void *data, std::size_t size);
    [[nodiscard]] Digest result() const;

private:
    struct Free
    {
        void operator()(XXH3_state_s *state) const;
    };
    std::unique_ptr<XXH3_state_s, Free> m_state;
};
