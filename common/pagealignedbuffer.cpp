#include "pagealignedbuffer.h"

#include <QtGlobal>

#include <unistd.h>

namespace {
std::size_t pageSize()
{
    static const std::size_t size = static_cast<std::size_t>(getpagesize());
    return size;
}
} // namespace

std::tuple<std::unique_ptr<char[]>, char *, std::size_t> pageAlignedBuffer(std::size_t pages)
{
    const std::size_t size = pages * pageSize();
    std::size_t space = size + pageSize();
    std::unique_ptr<char[]> owner(new char[space]);
    void *start = owner.get();
    if (!std::align(pageSize(), size, start, space))
        qBadAlloc();
    return { std::move(owner), static_cast<char *>(start), size };
}

std::size_t pagesFor(std::size_t bytes)
{
    return (bytes + pageSize() - 1) / pageSize();
}
