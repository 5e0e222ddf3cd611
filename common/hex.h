#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Bytes in lower-case hexadecimal, two digits each: how digests are written
// in checksum files, in implanted ISO checksums and in the release feed.
std::string toHex(const std::uint8_t *data, std::size_t size);

template<std::size_t N> std::string toHex(const std::array<std::uint8_t, N> &bytes)
{
    return toHex(bytes.data(), N);
}
