// What queries about single tracks (playlist titles and lengths, metadata,
// the converter's reads) know of the archives' indexes: the records of the
// last few indexes read, each read from its file once and kept until the
// plug-in is unloaded or the player loads an index itself (an index ships
// beside the plug-in and is not expected to change meanwhile). Any thread
// may ask: the cache has a lock of its own. It never shows a message box.
#pragma once

#include "platform/win32.h"
#include "catalogue/track_record.h"
#include "decoder/track_stream.h"

#include <cstdint>

// One track of an archive as a query sees it.
struct TrackFacts {
    TrackRecord record{}; // from the index
    int track_count = 0;  // records in that index
    TrackHeader header{}; // the track's own header, checked as playback checks it
    DWORD archive_size = 0;
};

class IndexCache {
public:
    static constexpr int kKept = 4;
    static constexpr int kDirectoryChars = 260;

    // Makes the lock; Release frees every kept index and the lock. Neither
    // while a query runs.
    void Prepare();
    void Release();
    // Drops every kept index: the next query reads its index again.
    void Forget();

    // Track `index` (from 0) of the open `archive`, from the index for its
    // size in `directory` (empty, or ending in a backslash) and its header
    // read from the archive. False when the archive's size is not a known
    // one, its index cannot be read, it lists no such track, or the header
    // is not a valid one.
    bool Track(const char* directory, HANDLE archive, int index, TrackFacts* facts);
    // How many tracks the index of the open `archive` lists, or -1 when its
    // size is not a known one or its index cannot be read.
    int TrackCount(const char* directory, HANDLE archive);

    // Index files read since the cache was made.
    int reads() const { return reads_; }

private:
    struct Kept {
        char directory[kDirectoryChars];
        DWORD archive_size;
        TrackRecord* tracks; // null: the slot is free
        int track_count;
        unsigned last_used;
    };
    // Under the lock: the index for an archive of `size` in `directory`,
    // read now unless it is kept, or null.
    Kept* Find(const char* directory, DWORD size);
    void Drop(Kept& kept);

    CRITICAL_SECTION lock_{};
    bool ready_ = false;
    Kept kept_[kKept] = {};
    unsigned clock_ = 0;
    int reads_ = 0;
};
