// An archive opened through the player's own catalogue code, after checking
// everything the player would answer with a message box.
#pragma once

#include "catalogue/known_archives.h"
#include "catalogue/track_record.h"
#include "decoder/track_stream.h"

#include <cstdint>
#include <memory>
#include <string>

class PlayerState;

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
    int TrackCount() const;
    const TrackRecord& Track(int index) const; // index within 0..TrackCount()-1
    std::uint32_t TotalTrackBytes() const;
    // Reads a track's header with the player's check; false if it is rejected.
    bool ReadHeader(int index, TrackHeader* header);

    PlayerState& Player() { return *player_; }

private:
    void Release();

    std::unique_ptr<PlayerState> player_;
    PlayerState* previous_instance_ = nullptr;
    const KnownArchive* known_ = nullptr;
    std::string index_path_;
};
