// The player's extended read, for its format converter, ReplayGain scanner
// and CD burner: one track entry's PCM, exactly as playback hands it to the
// output, through a handle of its own. Each handle has its own file, read
// window and decoder, so any number may be open at once, beside playback and
// on any thread; one handle is used by one thread at a time.
#pragma once

#include <cstdint>

class PlayerState;

// Opens the track `file` names. Returns a handle, or 0 for anything but a
// readable track entry; sets *size to its PCM bytes, *bps to 16, *nch to 1
// and *srate to its rate (whatever they held).
std::intptr_t ExtendedReadOpen(PlayerState& player, const char* file, int* size, int* bps, int* nch,
                               int* srate);
// Writes up to `len` bytes of the next PCM into `dest` and returns how many:
// 0 at the end. Checks `*killswitch` before each few KB of work and returns
// what it has as soon as it is set.
int ExtendedReadData(std::intptr_t handle, char* dest, int len, int* killswitch);
// Goes to `ms` into the track (at a whole sample pair, clamped to the
// track); returns 1, or 0 without a handle.
int ExtendedReadSeek(std::intptr_t handle, int ms);
void ExtendedReadClose(std::intptr_t handle);
