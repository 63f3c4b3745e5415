#include "decoder/byte_source.h"

#include <algorithm>
#include <cstring>

std::size_t MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) {
    if (offset >= size_)
        return 0;
    const std::size_t from = static_cast<std::size_t>(offset);
    const std::size_t taken = std::min(bytes, size_ - from);
    std::memcpy(buffer, data_ + from, taken);
    return taken;
}
