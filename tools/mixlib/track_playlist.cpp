#include "tools/mixlib/track_playlist.h"
#include "catalogue/ansi_text.h"
#include "catalogue/track_entry.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr char kLineEnd[] = "\r\n";

// A path as the system writes it, in the playlist's encoding: kept when it
// is UTF-8 already (ASCII, and Linux file names), otherwise read as the
// player's ANSI code page (Windows gives programs their paths in it).
std::string PathText(const fs::path& path) {
    fs::path preferred = path;
    preferred.make_preferred();
    const std::string text = preferred.string();
    return IsUtf8(text) ? text : AnsiToUtf8(text);
}

fs::path FullPath(const std::string& path) {
    return fs::absolute(FileSystemPath(path)).lexically_normal();
}

// Whether two paths name the same folder, links and dots resolved.
bool SameFolder(const fs::path& a, const fs::path& b) {
    std::error_code error;
    const fs::path left = fs::weakly_canonical(a, error);
    if (error)
        return false;
    const fs::path right = fs::weakly_canonical(b, error);
    return !error && left == right;
}

// The entry of track `number` with `archive` as its archive part, or ""
// when it would be longer than the player keeps.
std::string Entry(const std::string& archive, int number) {
    char name[kLongestEntryName + 1];
    return FormatTrackEntry(archive, number, name, sizeof name) > 0 ? name : "";
}

// A title on one line: the index's control bytes (a line break would end
// the entry) become spaces.
std::string TitleText(const char* title) {
    std::string text = title;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return AnsiToUtf8(text);
}

} // namespace

TrackPlaylist MakeTrackPlaylist(ArchiveReader& archive, const std::string& archive_path,
                                const std::string& playlist_path) {
    const fs::path full_archive = FullPath(archive_path);
    const std::string absolute = PathText(full_archive);
    if (absolute.find(kTrackEntryMark) != std::string::npos)
        throw MixError(absolute + ": a track entry cannot name an archive whose path holds a '" +
                       kTrackEntryMark + "'");
    std::string relative;
    bool beside = false;
    if (!playlist_path.empty()) {
        const fs::path folder = FullPath(playlist_path).parent_path();
        beside = SameFolder(folder, full_archive.parent_path());
        relative =
            PathText(beside ? full_archive.filename() : full_archive.lexically_relative(folder));
    }

    TrackPlaylist playlist;
    playlist.text = std::string("#EXTM3U") + kLineEnd;
    int too_long = 0;
    int first_too_long = 0;
    for (int i = 0; i < archive.TrackCount(); ++i) {
        const int number = i + 1;
        // The name the player works with is the absolute one, whatever the
        // playlist holds: it resolves a relative entry against its folder.
        std::string entry = Entry(absolute, number);
        if (entry.empty() && ++too_long == 1)
            first_too_long = number;
        if (beside || (entry.empty() && !relative.empty()))
            entry = Entry(relative, number);
        if (entry.empty())
            throw MixError("track " + std::to_string(number) + ": its entry is longer than " +
                           std::to_string(kLongestEntryName) + " characters (" + absolute + ")");

        TrackHeader header{};
        long long seconds = -1;
        if (archive.ReadHeader(i, &header))
            seconds = header.output_size / 2 / header.sample_rate;
        playlist.text += "#EXTINF:" + std::to_string(seconds) + "," +
                         TitleText(archive.Track(i).title) + kLineEnd + entry + kLineEnd;
    }
    if (too_long > 0)
        playlist.warnings.push_back(
            "warning: " + std::to_string(too_long) + " of " + std::to_string(archive.TrackCount()) +
            " entries (from track " + std::to_string(first_too_long) + ") are longer than " +
            std::to_string(kLongestEntryName) +
            " characters with the archive's full path; the player cannot hold such names "
            "whole and cannot play them (keep the archive in a shorter folder)");
    return playlist;
}
