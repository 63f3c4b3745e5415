// Track index files written byte by byte from the index format, so that the
// catalogue is checked against the format rather than against our own tools.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace handmade {

// One 60-byte index record before scrambling: integers little-endian, each
// text behind its length byte.
using StoredIndexRecord = std::array<std::uint8_t, 60>;

struct IndexEntry {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint16_t sample_rate = 0;
    std::string title;      // at most 39 characters
    std::string short_text; // at most 8 characters
    std::uint8_t flags = 0;
};

// Lays out a record in its stored form. Unused text bytes are filled with
// `filler`, so that a terminator in the wrong place shows.
StoredIndexRecord StoreRecord(const IndexEntry& entry, std::uint8_t filler = '#');

// Scrambles a stored record in place with the index key.
void ScrambleRecord(StoredIndexRecord& record);

// The bytes of an index file holding these records, scrambled.
std::vector<std::uint8_t> IndexFileBytes(const std::vector<StoredIndexRecord>& records);
std::vector<std::uint8_t> IndexFileBytes(const std::vector<IndexEntry>& entries);

} // namespace handmade
