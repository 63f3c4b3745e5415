// An archive as an extended M3U playlist: one track entry per track, with
// the length and title the player shows before it asks the plug-in.
#pragma once

#include <string>
#include <vector>

class ArchiveReader;

struct TrackPlaylist {
    std::string text;                  // UTF-8 without a byte-order mark, CR LF lines
    std::vector<std::string> warnings; // one line each, for standard error
};

// The playlist of every track of `archive`, opened from `archive_path`.
// `playlist_path` is where it will be written (entries then name the
// archive by its file name alone when the playlist sits in its folder), or
// empty for standard output (entries name it by its absolute path). Titles
// are the index's bytes read as Windows-1252; a track whose header the
// player rejects gets the length -1. Throws MixError for an entry that
// cannot be written within the player's name limit.
TrackPlaylist MakeTrackPlaylist(ArchiveReader& archive, const std::string& archive_path,
                                const std::string& playlist_path);
