// Where the decoder's bytes come from: an archive file for the player, a span
// of memory for tools, tests and fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
public:
    // Copies up to `bytes` bytes from `offset` into `buffer`; returns how many
    // came: fewer at the end of the data, 0 after a read error.
    virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) = 0;

protected:
    ~ByteSource() = default;
};

// Bytes held in memory by the caller, who keeps them alive while it is used.
class MemorySource final : public ByteSource {
public:
    MemorySource() = default;
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) override;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};
