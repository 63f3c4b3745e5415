// Turning an archive's track index into track records: descrambling and
// converting the texts, every track enabled.
#include "catalogue/track_index.h"

#include <cstring>

void DescrambleRecord(std::uint8_t* record) {
    for (int i = 0; i < kTrackRecordBytes; ++i)
        record[i] ^= kScrambleKey[i % kScrambleKeyBytes];
}

namespace {

// Moves a text of `field` bytes down over its length byte and terminates it;
// a stored length outside 0..field-1 is clamped so the terminator stays
// inside the field.
void ConvertText(std::uint8_t* length_byte, int field) {
    int length = static_cast<std::int8_t>(*length_byte);
    if (length < 0)
        length = 0;
    if (length > field - 1)
        length = field - 1;
    std::memmove(length_byte, length_byte + 1, field - 1);
    length_byte[length] = 0;
}

} // namespace

void ConvertRecord(std::uint8_t* record) {
    ConvertText(record + kStoredTitleLength, kTitleField);
    ConvertText(record + kStoredShortTextLength, kShortTextField);
    record[kStoredFlags] |= kTrackEnabled;
}

DecodedIndex DecodeTrackIndex(std::span<const std::uint8_t> index, TrackRecord* tracks) {
    DecodedIndex decoded{IndexRecordCount(index.size()), 0};
    for (int j = 0; j < decoded.track_count; ++j) {
        std::uint8_t record[kTrackRecordBytes];
        std::memcpy(record, index.data() + std::size_t{kTrackRecordBytes} * j, kTrackRecordBytes);
        DescrambleRecord(record);
        ConvertRecord(record);
        std::memcpy(&tracks[j], record, kTrackRecordBytes);
        decoded.total_size += tracks[j].size;
    }
    return decoded;
}
