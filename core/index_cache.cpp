#include "core/index_cache.h"
#include "core/archive_source.h"
#include "core/file_reading.h"
#include "core/player_state.h"
#include "core/track_index_file.h"

#include <cstring>

static_assert(IndexCache::kDirectoryChars == kPathChars);

namespace {

// Reads straight from the file: a query reads one 12-byte header, where
// the read-ahead window of playback would fetch 32 KB for it.
class DirectSource final : public ByteSource {
public:
    explicit DirectSource(HANDLE file) : file_(file) {}
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t bytes) override {
        DWORD got = 0;
        if (!SetArchivePosition(file_, offset) ||
            !ReadFile(file_, buffer, static_cast<DWORD>(bytes), &got, nullptr))
            return 0;
        return got;
    }

private:
    HANDLE file_;
};

class Hold {
public:
    explicit Hold(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~Hold() { LeaveCriticalSection(&lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

} // namespace

void IndexCache::Prepare() {
    if (!ready_) {
        InitializeCriticalSection(&lock_);
        ready_ = true;
    }
}

void IndexCache::Release() {
    if (!ready_)
        return;
    Forget();
    DeleteCriticalSection(&lock_);
    ready_ = false;
}

void IndexCache::Drop(Kept& kept) {
    if (kept.tracks)
        GlobalFree(kept.tracks);
    kept.tracks = nullptr;
}

void IndexCache::Forget() {
    if (!ready_)
        return;
    Hold hold(lock_);
    for (Kept& kept : kept_)
        Drop(kept);
}

IndexCache::Kept* IndexCache::Find(const char* directory, DWORD size) {
    for (Kept& kept : kept_) {
        if (kept.tracks && kept.archive_size == size && lstrcmpiA(kept.directory, directory) == 0) {
            kept.last_used = ++clock_;
            return &kept;
        }
    }
    // A free slot if there is one, else the index used longest ago.
    Kept* oldest = &kept_[0];
    for (Kept& kept : kept_) {
        if (!kept.tracks) {
            oldest = &kept;
            break;
        }
        if (kept.last_used < oldest->last_used)
            oldest = &kept;
    }
    char index_path[kDirectoryChars];
    TrackIndexFile file = ReadTrackIndexFile(directory, size, index_path, kDirectoryChars);
    if (file.reading != IndexReading::Loaded)
        return nullptr;
    ++reads_;
    Drop(*oldest);
    lstrcpynA(oldest->directory, directory, kDirectoryChars);
    oldest->archive_size = size;
    oldest->tracks = file.tracks;
    oldest->track_count = file.track_count;
    oldest->last_used = ++clock_;
    return oldest;
}

int IndexCache::TrackCount(const char* directory, HANDLE archive) {
    const DWORD size = SizeBelow4GiB(archive);
    if (!ready_ || size == INVALID_FILE_SIZE)
        return -1;
    Hold hold(lock_);
    const Kept* kept = Find(directory, size);
    return kept ? kept->track_count : -1;
}

bool IndexCache::Track(const char* directory, HANDLE archive, int index, TrackFacts* facts) {
    const DWORD size = SizeBelow4GiB(archive);
    if (!ready_ || size == INVALID_FILE_SIZE || index < 0)
        return false;
    {
        Hold hold(lock_);
        const Kept* kept = Find(directory, size);
        if (!kept || index >= kept->track_count)
            return false;
        std::memcpy(&facts->record, &kept->tracks[index], sizeof facts->record);
        facts->track_count = kept->track_count;
    }
    facts->archive_size = size;
    DirectSource source(archive);
    return ReadTrackHeader(source, facts->record.offset, &facts->header);
}
