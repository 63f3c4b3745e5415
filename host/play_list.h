// The names kestrel-play plays, in order: its arguments, with each playlist
// (.m3u or .m3u8) among them read into the names it lists, as the media
// player loads a playlist into its own.
#pragma once

#include <string>
#include <vector>

struct PlayEntry {
    std::string name;    // as handed to the plug-in, in the player's ANSI code page
    bool listed = false; // from a playlist line with #EXTINF before it
    std::string title;   // #EXTINF's title, UTF-8 as the playlist holds it
    int seconds = -1;    // #EXTINF's length
};

// Whether `name` is a playlist: it ends in .m3u or .m3u8, in any case.
bool IsPlaylistName(const std::string& name);

// Reads a playlist: UTF-8 (a byte-order mark is skipped), lines ending in
// LF or CR LF, "#EXTINF:<seconds>,<title>" noted for the name on the next
// line, other lines starting with '#' and blank ones skipped. A relative
// name is resolved against the playlist's folder. Names are handed on in
// the ANSI code page (Windows-1252), as a player gives an ANSI plug-in its
// names. False, with the reason in `error`, if the file cannot be read.
bool ReadPlaylist(const std::string& path, std::vector<PlayEntry>* entries, std::string* error);

// Every argument as an entry, each playlist replaced by its entries.
bool ExpandPlaylists(const std::vector<std::string>& arguments, std::vector<PlayEntry>* entries,
                     std::string* error);
