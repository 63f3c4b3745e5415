// Reading an archive's track index from beside the plug-in: the index file
// named for the archive's size, its whole records decoded. It shows nothing
// to the user; each caller decides what a failure means to it.
#pragma once

#include "platform/win32.h"
#include "catalogue/track_record.h"

#include <cstdint>

enum class IndexReading {
    Loaded,
    UnknownSize, // no known archive has that size: no index is looked for
    Missing,     // the index cannot be opened, or its path does not fit
    NoMemory,    // its records could not be given memory
};

struct TrackIndexFile {
    IndexReading reading = IndexReading::UnknownSize;
    // The decoded records, in a GlobalAlloc block the caller frees (null
    // unless Loaded); only records read in full count.
    TrackRecord* tracks = nullptr;
    int track_count = 0;
    std::uint32_t total_size = 0; // of the tracks, wrapping as the 32-bit field does
};

// Reads the index of an archive of `archive_size` bytes from `directory`
// (empty, or ending in a backslash). Unless the size is unknown, `index_path`
// (room for `room` characters with the terminator) receives the index's path,
// cut to fit; a path that does not fit is never opened.
TrackIndexFile ReadTrackIndexFile(const char* directory, DWORD archive_size, char* index_path,
                                  int room);
