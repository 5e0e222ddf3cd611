#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// MD5 (RFC 1321), the one both programs use: for implanted ISO checksums,
// the helper's read-back check and the downloads. It runs a few per cent
// faster than libcrypto's and Qt's on the machines measured (bench/md5
// compares them in one run). A plain value type: copying it forks the running
// state, which the fragment sums of implanted ISO checksums need (finish a
// copy, keep feeding the original).
class Md5
{
public:
    using Digest = std::array<std::uint8_t, 16>;

    void update(const void *data, std::size_t size);
    [[nodiscard]] Digest result() const;

private:
    void processBlocks(const std::uint8_t *data, std::size_t blocks);

    std::uint32_t m_state[4] = { 0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u };
    std::uint64_t m_length = 0;
    std::uint8_t m_pending[64] = {};
};
