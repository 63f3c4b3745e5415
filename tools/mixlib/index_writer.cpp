#include "tools/mixlib/index_writer.h"
#include "tools/mixlib/file_output.h"

#include <algorithm>
#include <cstring>

namespace {

void StoreText(std::uint8_t* length_byte, const std::string& text, int most) {
    auto length = static_cast<std::size_t>(std::min<std::size_t>(text.size(), most));
    *length_byte = static_cast<std::uint8_t>(length);
    std::memcpy(length_byte + 1, text.data(), length);
}

void StoreLe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}

} // namespace

StoredRecord MakeStoredRecord(const IndexEntry& entry) {
    StoredRecord record{};
    StoreLe(record.data() + offsetof(TrackRecord, offset), entry.offset, 4);
    StoreLe(record.data() + offsetof(TrackRecord, size), entry.size, 4);
    StoreLe(record.data() + offsetof(TrackRecord, sample_rate), entry.sample_rate, 2);
    StoreText(record.data() + kStoredTitleLength, entry.title, kTitleChars);
    StoreText(record.data() + kStoredShortTextLength, entry.short_text, kShortTextChars);
    record[kStoredFlags] = entry.enabled ? kTrackEnabled : 0;
    return record;
}

void WriteStoredRecords(const std::string& path, const std::vector<StoredRecord>& records) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(records.size() * kTrackRecordBytes);
    for (StoredRecord record : records) {
        DescrambleRecord(record.data()); // the XOR is its own inverse
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    WriteIndexBytes(path, bytes);
}

void WriteIndex(const std::string& path, const std::vector<IndexEntry>& entries) {
    std::vector<StoredRecord> records;
    records.reserve(entries.size());
    for (const IndexEntry& entry : entries)
        records.push_back(MakeStoredRecord(entry));
    WriteStoredRecords(path, records);
}

void WriteIndexBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    WriteWholeFile(path, bytes.data(), bytes.size());
}
