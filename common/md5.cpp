#include "md5.h"

#include <cstring>

namespace {

inline std::uint32_t rotl(std::uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

inline std::uint32_t loadLe(const std::uint8_t *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

} // namespace

// The round functions are written so that the part that does not depend on
// the previous step's result (b) is added first; MD5 is one long dependency
// chain, and shortening it is what makes the hash fast.
#define MD5_F(a, b, c, d, x, s, k)                                                                                     \
    a += (x) + (k) + ((d) ^ ((b) & ((c) ^ (d))));                                                                      \
    a = rotl(a, s) + (b);
#define MD5_G(a, b, c, d, x, s, k)                                                                                     \
    a += (x) + (k) + (~(d) & (c));                                                                                     \
    a += ((d) & (b));                                                                                                  \
    a = rotl(a, s) + (b);
#define MD5_H(a, b, c, d, x, s, k)                                                                                     \
    a += (x) + (k) + ((b) ^ (c) ^ (d));                                                                                \
    a = rotl(a, s) + (b);
#define MD5_I(a, b, c, d, x, s, k)                                                                                     \
    a += (x) + (k) + ((c) ^ ((b) | ~(d)));                                                                             \
    a = rotl(a, s) + (b);

void Md5::processBlocks(const std::uint8_t *data, std::size_t blocks)
{
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = loadLe(data + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_F(a, b, c, d, x[0], 7, 0xd76aa478u)
        MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756u)
        MD5_F(c, d, a, b, x[2], 17, 0x242070dbu)
        MD5_F(b, c, d, a, x[3], 22, 0xc1bdceeeu)
        MD5_F(a, b, c, d, x[4], 7, 0xf57c0fafu)
        MD5_F(d, a, b, c, x[5], 12, 0x4787c62au)
        MD5_F(c, d, a, b, x[6], 17, 0xa8304613u)
        MD5_F(b, c, d, a, x[7], 22, 0xfd469501u)
        MD5_F(a, b, c, d, x[8], 7, 0x698098d8u)
        MD5_F(d, a, b, c, x[9], 12, 0x8b44f7afu)
        MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1u)
        MD5_F(b, c, d, a, x[11], 22, 0x895cd7beu)
        MD5_F(a, b, c, d, x[12], 7, 0x6b901122u)
        MD5_F(d, a, b, c, x[13], 12, 0xfd987193u)
        MD5_F(c, d, a, b, x[14], 17, 0xa679438eu)
        MD5_F(b, c, d, a, x[15], 22, 0x49b40821u)

        MD5_G(a, b, c, d, x[1], 5, 0xf61e2562u)
        MD5_G(d, a, b, c, x[6], 9, 0xc040b340u)
        MD5_G(c, d, a, b, x[11], 14, 0x265e5a51u)
        MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aau)
        MD5_G(a, b, c, d, x[5], 5, 0xd62f105du)
        MD5_G(d, a, b, c, x[10], 9, 0x02441453u)
        MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681u)
        MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8u)
        MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6u)
        MD5_G(d, a, b, c, x[14], 9, 0xc33707d6u)
        MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87u)
        MD5_G(b, c, d, a, x[8], 20, 0x455a14edu)
        MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905u)
        MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8u)
        MD5_G(c, d, a, b, x[7], 14, 0x676f02d9u)
        MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8au)

        MD5_H(a, b, c, d, x[5], 4, 0xfffa3942u)
        MD5_H(d, a, b, c, x[8], 11, 0x8771f681u)
        MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122u)
        MD5_H(b, c, d, a, x[14], 23, 0xfde5380cu)
        MD5_H(a, b, c, d, x[1], 4, 0xa4beea44u)
        MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9u)
        MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60u)
        MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70u)
        MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6u)
        MD5_H(d, a, b, c, x[0], 11, 0xeaa127fau)
        MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085u)
        MD5_H(b, c, d, a, x[6], 23, 0x04881d05u)
        MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039u)
        MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5u)
        MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8u)
        MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665u)

        MD5_I(a, b, c, d, x[0], 6, 0xf4292244u)
        MD5_I(d, a, b, c, x[7], 10, 0x432aff97u)
        MD5_I(c, d, a, b, x[14], 15, 0xab9423a7u)
        MD5_I(b, c, d, a, x[5], 21, 0xfc93a039u)
        MD5_I(a, b, c, d, x[12], 6, 0x655b59c3u)
        MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92u)
        MD5_I(c, d, a, b, x[10], 15, 0xffeff47du)
        MD5_I(b, c, d, a, x[1], 21, 0x85845dd1u)
        MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4fu)
        MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0u)
        MD5_I(c, d, a, b, x[6], 15, 0xa3014314u)
        MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1u)
        MD5_I(a, b, c, d, x[4], 6, 0xf7537e82u)
        MD5_I(d, a, b, c, x[11], 10, 0xbd3af235u)
        MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bbu)
        MD5_I(b, c, d, a, x[9], 21, 0xeb86d391u)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    m_state[0] = a;
    m_state[1] = b;
    m_state[2] = c;
    m_state[3] = d;
}

void Md5::update(const void *data, std::size_t size)
{
    auto *bytes = static_cast<const std::uint8_t *>(data);
    std::size_t used = m_length % 64;
    m_length += size;
    if (used > 0) {
        const std::size_t take = size < 64 - used ? size : 64 - used;
        std::memcpy(m_pending + used, bytes, take);
        bytes += take;
        size -= take;
        used += take;
        if (used < 64)
            return;
        processBlocks(m_pending, 1);
    }
    processBlocks(bytes, size / 64);
    bytes += size / 64 * 64;
    std::memcpy(m_pending, bytes, size % 64);
}

Md5::Digest Md5::result() const
{
    Md5 copy = *this;
    const std::uint64_t bits = m_length * 8;
    std::uint8_t padding[72] = { 0x80 };
    const std::size_t used = m_length % 64;
    const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i)
        padding[padLength + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    copy.update(padding, padLength + 8);

    Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(copy.m_state[i] >> (8 * j));
    return digest;
}
