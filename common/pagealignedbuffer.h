#pragma once

#include <cstddef>
#include <memory>
#include <tuple>

// A buffer whose start lies on a page boundary and whose length is whole
// pages, as O_DIRECT transfers need: the owning allocation, the aligned start
// and the usable size in bytes. The memory is not initialised. Throws
// std::bad_alloc when it cannot be had.
std::tuple<std::unique_ptr<char[]>, char *, std::size_t> pageAlignedBuffer(std::size_t pages);

// The number of pages that hold bytes, rounded up.
std::size_t pagesFor(std::size_t bytes);
