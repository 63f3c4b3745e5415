// Fuzzes the names and fields the player asks about: the input's first byte
// picks a field, its second the room for the answer, and the rest, put after
// the path of a scratch folder, is the entry's name. The folder holds a
// sparse archive of a known size with two valid tracks and a third whose
// header is zeros, and their index. Every parsed name must write back to
// itself, and any bytes pass through the titles' code page and back; no
// answer may pass its room or be unterminated; a refused query
// writes nothing; a converter's open of the name reads and closes cleanly.
#include "catalogue/ansi_text.h"
#include "catalogue/known_archives.h"
#include "catalogue/track_entry.h"
#include "catalogue/track_record.h"
#include "core/extended_file_info.h"
#include "core/extended_read.h"
#include "core/player_state.h"
#include "decoder/track_stream.h"
#include "fuzz/fuzz_scratch.h"
#include "platform/standin/testing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr const char* kFields[] = {"type",     "family", "title",   "album",
                                   "track",    "length", "bitrate", "samplerate",
                                   "lossless", "artist", "TITLE",   "formatinformation"};
constexpr std::uint32_t kTrackAt[] = {4096, 8192, 12288};

void Put(std::vector<std::uint8_t>& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A stored record: the integers, each text behind its length byte, flags.
std::vector<std::uint8_t> Record(std::uint32_t offset, const char* title) {
    std::vector<std::uint8_t> record;
    Put(record, offset, 4);
    Put(record, 600, 4);
    Put(record, 22050, 2);
    const std::size_t length = std::strlen(title);
    record.push_back(static_cast<std::uint8_t>(length));
    record.insert(record.end(), title, title + length);
    record.resize(kStoredShortTextLength, 0);
    record.resize(kTrackRecordBytes, 0);
    DescrambleRecord(record.data()); // the key's XOR scrambles as well
    return record;
}

// Two tracks of one chunk each, and an index of three records.
void MakeArchive() {
    const KnownArchive& known = *FindKnownArchive(25046328);
    std::vector<std::uint8_t> archive(12288, 0);
    for (int t = 0; t < 2; ++t) {
        std::vector<std::uint8_t> track;
        Put(track, 11025 * (t + 1), 2);
        Put(track, 8 + 100, 4);
        Put(track, 400, 4);
        Put(track, kTrackHeaderMagic, 2);
        Put(track, 100, 2);
        Put(track, 400, 2);
        Put(track, kChunkSignature, 2);
        Put(track, 0, 2);
        for (int i = 0; i < 100; ++i)
            track.push_back(static_cast<std::uint8_t>(i * 37));
        std::memcpy(archive.data() + kTrackAt[t], track.data(), track.size());
    }
    const std::string path = WriteScratchFile("game.mix", archive.data(), archive.size());
    std::filesystem::resize_file(path, known.size);
    std::vector<std::uint8_t> index;
    const char* titles[] = {"First", "", "Zeros"};
    for (int t = 0; t < 3; ++t) {
        std::vector<std::uint8_t> record = Record(kTrackAt[t], titles[t]);
        index.insert(index.end(), record.begin(), record.end());
    }
    WriteScratchFile(known.index_name, index.data(), index.size());
}

PlayerState& Player() {
    static PlayerState* player = [] {
        MakeArchive();
        auto* made = new PlayerState;
        made->InitPlayer(nullptr, ScratchDirectory().c_str());
        return made;
    }();
    return *player;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

void CheckParse(const std::string& name) {
    const std::optional<TrackEntry> entry = ParseTrackEntry(name);
    if (!entry)
        return;
    FUZZ_CHECK(entry->number >= 1 && entry->number <= kHighestTrackNumber);
    FUZZ_CHECK(!entry->archive.empty());
    FUZZ_CHECK(entry->archive.find(kTrackEntryMark) == std::string_view::npos);
    char written[kPathChars];
    const int length = FormatTrackEntry(entry->archive, entry->number, written, kPathChars);
    FUZZ_CHECK(length == static_cast<int>(name.size()));
    for (int i = 0; i < length; ++i)
        FUZZ_CHECK(Upper(written[i]) == Upper(name[i]));
}

// The titles' way into a playlist and back: any bytes, as Windows-1252,
// come back from UTF-8 unchanged; UTF-8 that is not valid is taken as it is.
void CheckText(const std::string& bytes) {
    const std::string utf8 = AnsiToUtf8(bytes);
    FUZZ_CHECK(IsUtf8(utf8));
    FUZZ_CHECK(Utf8ToAnsi(utf8) == bytes);
    const std::string ansi = Utf8ToAnsi(bytes);
    FUZZ_CHECK(ansi.size() <= bytes.size());
    if (!IsUtf8(bytes))
        return;
    FUZZ_CHECK(IsUtf8(AnsiToUtf8(ansi)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PlayerState& player = Player();
    if (size < 2)
        return 0;
    const std::size_t pick = data[0] % (std::size(kFields) + 1);
    const int room = data[1] % 80;
    const std::string tail(reinterpret_cast<const char*>(data + 2), size - 2);
    if (tail.find('\0') != std::string::npos)
        return 0;
    CheckParse(tail);
    CheckText(tail);
    const std::string name = tail.empty() ? tail : ScratchDirectory() + tail;
    CheckParse(name);

    // Any field name the input makes, or one of the player's.
    const std::string field = pick < std::size(kFields) ? kFields[pick] : tail;
    char out[96];
    std::memset(out, '#', sizeof out);
    const int answered = ExtendedFileInfo(player, name.c_str(), field.c_str(), out, room);
    FUZZ_CHECK(answered == 0 || answered == 1);
    if (answered) {
        FUZZ_CHECK(room >= 1);
        FUZZ_CHECK(std::memchr(out, 0, room) != nullptr);
    }
    for (int i = answered ? room : 0; i < static_cast<int>(sizeof out); ++i)
        FUZZ_CHECK(out[i] == '#');

    int bytes = -1, bps = 0, channels = 0, rate = 0;
    const std::intptr_t read =
        ExtendedReadOpen(player, name.c_str(), &bytes, &bps, &channels, &rate);
    if (read) {
        FUZZ_CHECK(ParseTrackEntry(name).has_value());
        FUZZ_CHECK(bytes >= 0 && bytes % 4 == 0 && bps == 16 && channels == 1);
        FUZZ_CHECK(rate >= kLowestSampleRate);
        char pcm[1000];
        int kill = 0, total = 0;
        for (int got; (got = ExtendedReadData(read, pcm, room + 1, &kill)) > 0;) {
            FUZZ_CHECK(got <= room + 1);
            total += got;
        }
        FUZZ_CHECK(total == bytes);
        FUZZ_CHECK(ExtendedReadSeek(read, data[1] * 10) == 1);
        ExtendedReadClose(read);
    }
    FUZZ_CHECK(standin::MessageBoxes().empty());
    return 0;
}
