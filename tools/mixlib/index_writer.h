// Writing track index files: 60-byte records with length-prefixed texts,
// scrambled with the same key the player descrambles with.
#pragma once

#include "catalogue/track_record.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kTitleChars = kTitleField - 1;         // 39
constexpr int kShortTextChars = kShortTextField - 1; // 8

struct IndexEntry {
    std::uint32_t offset = 0;      // of the track's header in the archive
    std::uint32_t size = 0;        // bytes of the track in the archive
    std::uint16_t sample_rate = 0; // Hz
    std::string title;             // cut to 39 characters
    std::string short_text;        // cut to 8 characters
    bool enabled = true;           // the player enables every track on loading anyway
};

// A record in its stored layout, not scrambled.
using StoredRecord = std::array<std::uint8_t, kTrackRecordBytes>;

StoredRecord MakeStoredRecord(const IndexEntry& entry);

// Writes an index of these entries.
void WriteIndex(const std::string& path, const std::vector<IndexEntry>& entries);
// Scrambles the records as they are, whatever their length bytes hold, and
// writes them: for indexes that are damaged on purpose.
void WriteStoredRecords(const std::string& path, const std::vector<StoredRecord>& records);
// Writes the bytes as the whole index file, unscrambled and unchecked.
void WriteIndexBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
