#include "support/scrambled_index.h"

#include <stdexcept>

namespace handmade {

namespace {

// The key of the index format: byte i of a record is XORed with key[i % 12].
constexpr std::uint8_t kKey[12] = {0x3C, 0x71, 0xE2, 0x09, 0x5A, 0xB4,
                                   0x17, 0xC8, 0x6E, 0x23, 0x9F, 0xD0};

void PutText(StoredIndexRecord& record, std::size_t at, std::size_t room, const std::string& text,
             std::uint8_t filler) {
    if (text.size() > room)
        throw std::invalid_argument("text too long for its field: " + text);
    record[at] = static_cast<std::uint8_t>(text.size());
    for (std::size_t i = 0; i < room; ++i)
        record[at + 1 + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : filler;
}

} // namespace

StoredIndexRecord StoreRecord(const IndexEntry& entry, std::uint8_t filler) {
    StoredIndexRecord record{};
    for (int i = 0; i < 4; ++i) {
        record[0 + i] = static_cast<std::uint8_t>(entry.offset >> (8 * i));
        record[4 + i] = static_cast<std::uint8_t>(entry.size >> (8 * i));
    }
    record[8] = static_cast<std::uint8_t>(entry.sample_rate);
    record[9] = static_cast<std::uint8_t>(entry.sample_rate >> 8);
    PutText(record, 10, 39, entry.title, filler);
    PutText(record, 50, 8, entry.short_text, filler);
    record[59] = entry.flags;
    return record;
}

void ScrambleRecord(StoredIndexRecord& record) {
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] ^= kKey[i % 12];
}

std::vector<std::uint8_t> IndexFileBytes(const std::vector<StoredIndexRecord>& records) {
    std::vector<std::uint8_t> bytes;
    for (StoredIndexRecord record : records) {
        ScrambleRecord(record);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

std::vector<std::uint8_t> IndexFileBytes(const std::vector<IndexEntry>& entries) {
    std::vector<StoredIndexRecord> records;
    for (const IndexEntry& entry : entries)
        records.push_back(StoreRecord(entry));
    return IndexFileBytes(records);
}

} // namespace handmade
