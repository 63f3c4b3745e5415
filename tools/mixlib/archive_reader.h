// An archive opened as the player opens it, after checking everything the
// player would answer with a message box: recognised by its size, its index
// loaded and descrambled, its tracks read through the player's own decoder.
#pragma once

#include "platform/win32.h"
#include "catalogue/known_archives.h"
#include "catalogue/track_record.h"
#include "core/archive_source.h"
#include "decoder/track_stream.h"

#include <cstdint>
#include <string>
#include <vector>

class ArchiveReader {
public:
    // Opens the archive and loads its index from `index_dir`. Throws
    // MixError for an unreadable archive, an unknown size, a missing index
    // or one that holds no whole record.
    ArchiveReader(const std::string& archive_path, const std::string& index_dir);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    const KnownArchive& Known() const { return *known_; }
    const std::string& IndexPath() const { return index_path_; }
    int TrackCount() const { return static_cast<int>(tracks_.size()); }
    const TrackRecord& Track(int index) const { return tracks_[index]; } // 0..TrackCount()-1
    std::uint32_t TotalTrackBytes() const;
    // Reads a track's header with the player's check; false if it is rejected.
    bool ReadHeader(int index, TrackHeader* header);

    // The archive's bytes, read ahead as the player reads them.
    ByteSource& Source() { return source_; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    ArchiveSource source_;
    const KnownArchive* known_ = nullptr;
    std::string index_path_;
    std::vector<TrackRecord> tracks_;
};
