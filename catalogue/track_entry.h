// A playlist entry that names one track of an archive: the archive's path,
// a bar, the track's number as Sound Info shows it (from 1) and the plug-in's
// extension, as in "D:\Games\Juniper.MIX|12.MIX". No Windows file name can
// hold a bar, so the form never names a real file; it ends in ".MIX", so a
// player that picks its plug-in by extension reaches this one; and the
// archive's path comes first, so a playlist's relative paths still resolve.
#pragma once

#include <optional>
#include <string_view>

constexpr char kTrackEntryMark = '|';
constexpr std::string_view kTrackEntryExtension = ".MIX";
// The player keeps names in MAX_PATH (260) characters with the terminator;
// a longer name is none of the plug-in's.
constexpr int kLongestEntryName = 259;
// Six digits: far more tracks than an index holds, and no overflow.
constexpr int kHighestTrackNumber = 999999;

struct TrackEntry {
    std::string_view archive; // the path before the bar
    int number;               // 1 .. kHighestTrackNumber
    int index() const { return number - 1; }
};

// Reads a track entry. Only the exact form is one: a non-empty archive path
// without a bar, one bar, a number without a leading zero, the extension in
// any case, and no more than kLongestEntryName characters in all. Whether
// the archive exists or holds that many tracks is not looked at.
std::optional<TrackEntry> ParseTrackEntry(std::string_view name);

// Writes the entry for track `number` of `archive` into `out`, which has
// room for `room` characters with the terminator. Returns the length
// written, or 0 (and the empty string, if there is room for it) when the
// name would not fit `room` or the player's limit, or is no track entry.
int FormatTrackEntry(std::string_view archive, int number, char* out, int room);
