// The player's metadata query: one field of a playlist entry (a track entry
// or a whole archive) or, with an empty name, of the playing stream.
#pragma once

class PlayerState;

// Writes the value of `field` (any case) into `out`, NUL-terminated and cut
// to `out_size` - 1 characters, and returns 1; returns 0 for a field it does
// not answer, an entry it cannot read, or no room for the terminator. Never
// shows a message box; any thread may ask, except about the playing stream,
// which belongs to the host's thread.
int ExtendedFileInfo(PlayerState& player, const char* file, const char* field, char* out,
                     int out_size);
