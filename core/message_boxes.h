// The boxes through which failures reach the user: no owner window, the
// warning icon. Each text is shown from here only.
#pragma once

// An archive that cannot be played: of no known size, without its index, or
// with a damaged track header.
void ShowNotValidArchive();
// An index file that is not there (or could not be opened): its path.
void ShowMissingFile(const char* path);
// A track entry whose number is past the archive's last track.
void ShowNoSuchTrack(int number, const char* archive, int track_count);
