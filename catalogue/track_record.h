// The per-track record of an archive's index, as stored and as kept in memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int kTrackRecordBytes = 60;
constexpr int kTitleField = 40;    // 39 characters and the terminator
constexpr int kShortTextField = 9; // 8 characters and the terminator
constexpr std::uint8_t kTrackEnabled = 0x80;
constexpr std::uint8_t kTrackFlagsApplied = 0x40; // rewritten with the enabled bit

// In the file the record is scrambled and its texts carry a length byte in
// front; in memory both texts are NUL-terminated in place.
#pragma pack(push, 1)
struct TrackRecord {
    std::uint32_t offset;      // byte position of the track's header in the archive
    std::uint32_t size;        // bytes of the track in the archive
    std::uint16_t sample_rate; // Hz
    char title[kTitleField];
    char short_text[kShortTextField];
    std::uint8_t flags;
};
#pragma pack(pop)

static_assert(sizeof(TrackRecord) == kTrackRecordBytes);
static_assert(offsetof(TrackRecord, offset) == 0);
static_assert(offsetof(TrackRecord, size) == 4);
static_assert(offsetof(TrackRecord, sample_rate) == 8);
static_assert(offsetof(TrackRecord, title) == 10);
static_assert(offsetof(TrackRecord, short_text) == 50);
static_assert(offsetof(TrackRecord, flags) == 59);

// Whether the track takes part in playback. The Sound Info dialog rewrites
// the flags on the host's thread while the playback thread reads them.
inline bool IsEnabled(TrackRecord& record) {
    return std::atomic_ref<std::uint8_t>(record.flags).load() & kTrackEnabled;
}

// Enables or disables the track, rewriting the applied bit with the enabled
// one. Only the host's thread writes the flags, so reading and then storing
// loses nothing; the store itself is one atomic step.
inline void SetEnabled(TrackRecord& record, bool enabled) {
    std::atomic_ref<std::uint8_t> flags(record.flags);
    const std::uint8_t kept = flags.load() & ~(kTrackEnabled | kTrackFlagsApplied);
    flags.store(enabled ? kept | kTrackEnabled : kept);
}

// Positions inside a stored (descrambled, not yet converted) record.
constexpr int kStoredTitleLength = 10;
constexpr int kStoredTitle = 11;
constexpr int kStoredShortTextLength = 50;
constexpr int kStoredShortText = 51;
constexpr int kStoredFlags = 59;

// The 12-byte key every record is XORed with, afresh for each record.
constexpr int kScrambleKeyBytes = 12;
constexpr std::uint8_t kScrambleKey[kScrambleKeyBytes] = {0x3C, 0x71, 0xE2, 0x09, 0x5A, 0xB4,
                                                          0x17, 0xC8, 0x6E, 0x23, 0x9F, 0xD0};

// XORs a 60-byte record with the key; scrambling and descrambling are the same.
void DescrambleRecord(std::uint8_t* record);

// Turns a descrambled stored record into its in-memory form in place: both
// texts moved down over their length byte and terminated (lengths outside
// their field are clamped into it), and the track enabled.
void ConvertRecord(std::uint8_t* record);
