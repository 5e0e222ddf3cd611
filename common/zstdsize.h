#pragma once

#include <cstddef>
#include <cstdint>

// The content size of the first zstd frame at the start of data (skippable
// frames before it are passed over when they lie within data). -1 when the
// frame does not record it (streams compressed from a pipe) or data holds no
// complete frame header. Later frames, if any, add to the decoded size.
std::int64_t zstdFirstFrameSize(const unsigned char *data, std::size_t length);
// The same, read from the start of an open file (without moving its offset).
std::int64_t zstdFirstFrameSize(int fd);
