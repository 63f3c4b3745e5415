// Fuzzes loading a track index: arbitrary bytes become the index file of a
// known archive, loaded through LoadTrackIndex, then every track is selected
// and asked for its successor. Each loaded record is compared with one
// converted here from the stored bytes by the format's rules.
#include "catalogue/known_archives.h"
#include "catalogue/track_record.h"
#include "core/player_state.h"
#include "fuzz/fuzz_scratch.h"
#include "platform/standin/testing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

int KnownArchiveCount() {
    int rows = 0;
    while (kKnownArchives[rows].size != kEndOfKnownArchives)
        ++rows;
    return rows;
}

int Clamp(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

// The in-memory record for a stored (scrambled) one, worked out byte by byte.
TrackRecord ExpectedRecord(const std::uint8_t* stored) {
    std::uint8_t plain[kTrackRecordBytes];
    for (int i = 0; i < kTrackRecordBytes; ++i)
        plain[i] = stored[i] ^ kScrambleKey[i % kScrambleKeyBytes];
    std::uint8_t converted[kTrackRecordBytes];
    std::memcpy(converted, plain, kTrackRecordBytes);
    // Each text moves down over its length byte; the byte after the moved
    // text keeps what it held. The stored length is clamped into the field.
    for (int i = 0; i < kTitleField - 1; ++i)
        converted[kStoredTitleLength + i] = plain[kStoredTitle + i];
    converted[kStoredTitleLength +
              Clamp(static_cast<std::int8_t>(plain[kStoredTitleLength]), 0, kTitleField - 1)] = 0;
    for (int i = 0; i < kShortTextField - 1; ++i)
        converted[kStoredShortTextLength + i] = plain[kStoredShortText + i];
    converted[kStoredShortTextLength +
              Clamp(static_cast<std::int8_t>(plain[kStoredShortTextLength]), 0,
                    kShortTextField - 1)] = 0;
    converted[kStoredFlags] |= kTrackEnabled;
    TrackRecord record;
    std::memcpy(&record, converted, kTrackRecordBytes);
    return record;
}

bool Terminated(const char* field, int bytes) {
    return std::memchr(field, 0, bytes) != nullptr;
}

// The next enabled track after `current`, searching forward and wrapping,
// never `current` itself.
int ExpectedNext(const std::vector<bool>& enabled, int current) {
    int count = static_cast<int>(enabled.size());
    for (int step = 1; step < count; ++step) {
        int i = (current + step) % count;
        if (enabled[i])
            return i;
    }
    return -1;
}

void CheckChoice(PlayerState& player, const std::vector<bool>& enabled) {
    const int count = player.track_count;
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(player.SelectTrack(i) == 1);
        const TrackRecord& record = player.tracks[i];
        FUZZ_CHECK(player.current_track == i);
        FUZZ_CHECK(player.track_offset == static_cast<int>(record.offset));
        FUZZ_CHECK(player.track_size == static_cast<int>(record.size));
        FUZZ_CHECK(player.sample_rate == record.sample_rate);
        FUZZ_CHECK(player.output_position == 0);
        FUZZ_CHECK(player.output_length ==
                   static_cast<int>(static_cast<std::uint64_t>(record.size) * 2048 / 520));
        FUZZ_CHECK(std::strcmp(player.title, record.title) == 0);

        int next = player.NextEnabledTrack();
        FUZZ_CHECK(next != i);
        FUZZ_CHECK(next == -1 || (next >= 0 && next < count));
        FUZZ_CHECK(next == ExpectedNext(enabled, i));
    }
    // Indexes outside the catalogue are refused and change nothing.
    int before = player.current_track;
    FUZZ_CHECK(player.SelectTrack(count) == 0);
    FUZZ_CHECK(player.SelectTrack(-1) == 0);
    FUZZ_CHECK(player.current_track == before);
}

PlayerState& Player() {
    static PlayerState* player = [] {
        auto* made = new PlayerState;
        made->InitPlayer(nullptr, ScratchDirectory().c_str());
        return made;
    }();
    return *player;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PlayerState& player = Player();
    // Which known archive the bytes are the index of follows from their length.
    const KnownArchive& known = kKnownArchives[size % KnownArchiveCount()];
    WriteScratchFile(known.index_name, data, size);

    player.current_track = 0;
    FUZZ_CHECK(player.LoadTrackIndex(known.size) == 1);
    FUZZ_CHECK(standin::MessageBoxes().empty());

    const int count = static_cast<int>(size / kTrackRecordBytes);
    FUZZ_CHECK(player.track_count == count);
    FUZZ_CHECK(count == 0 || player.tracks != nullptr);
    std::uint32_t total = 0;
    for (int j = 0; j < count; ++j) {
        const TrackRecord& record = player.tracks[j];
        FUZZ_CHECK(Terminated(record.title, kTitleField));
        FUZZ_CHECK(Terminated(record.short_text, kShortTextField));
        FUZZ_CHECK(record.flags & kTrackEnabled);
        TrackRecord expected = ExpectedRecord(data + j * kTrackRecordBytes);
        FUZZ_CHECK(std::memcmp(&record, &expected, kTrackRecordBytes) == 0);

        // The same conversion, called directly on the stored bytes.
        std::uint8_t direct[kTrackRecordBytes];
        std::memcpy(direct, data + j * kTrackRecordBytes, kTrackRecordBytes);
        DescrambleRecord(direct);
        ConvertRecord(direct);
        FUZZ_CHECK(std::memcmp(direct, &expected, kTrackRecordBytes) == 0);
        total += record.size;
    }
    FUZZ_CHECK(player.total_size == static_cast<int>(total));

    // Straight after loading every track is enabled.
    std::vector<bool> enabled(count, true);
    CheckChoice(player, enabled);

    // Then only those whose stored flags had the enabled bit, as the Sound
    // Info dialog might leave them.
    for (int j = 0; j < count; ++j) {
        std::uint8_t stored_flags = data[j * kTrackRecordBytes + kStoredFlags] ^
                                    kScrambleKey[kStoredFlags % kScrambleKeyBytes];
        enabled[j] = (stored_flags & kTrackEnabled) != 0;
        if (!enabled[j])
            player.tracks[j].flags &= static_cast<std::uint8_t>(~kTrackEnabled);
    }
    CheckChoice(player, enabled);

    // A size no row knows empties the catalogue without a message.
    FUZZ_CHECK(FindKnownArchive(known.size + 1) == nullptr);
    FUZZ_CHECK(player.LoadTrackIndex(known.size + 1) == 0);
    FUZZ_CHECK(player.tracks == nullptr && player.track_count == 0);
    FUZZ_CHECK(player.NextEnabledTrack() == -1);
    FUZZ_CHECK(player.SelectTrack(0) == 0);
    FUZZ_CHECK(standin::MessageBoxes().empty());
    return 0;
}
