#pragma once

#include <cstdint>

// The size an .xz file decodes to, read from the indexes at the end of its
// streams (liblzma's file-info decoder, which seeks backwards from the end
// and so reads a few kilobytes, not the file). Concatenated streams and stream
// padding count as the xz tools count them.
//
// -1 when the file is not xz, is truncated or damaged, or cannot be read:
// callers then have to find the size out by decoding.
std::int64_t xzDecodedSize(int fd);
std::int64_t xzDecodedSize(const char *path);
