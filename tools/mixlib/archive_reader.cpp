#include "tools/mixlib/archive_reader.h"
#include "core/player_state.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <filesystem>
#include <system_error>

namespace {

// Opens like the player does and closes again: whether the player will be
// able to open it.
bool PlayerCanOpen(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

} // namespace

ArchiveReader::ArchiveReader(const std::string& archive_path, const std::string& index_dir) {
    // The player shows a message box for an unknown size or a missing index;
    // a tool must not wait for a click, so both are found out here first.
    std::error_code error;
    std::filesystem::path archive = FileSystemPath(archive_path);
    if (!std::filesystem::is_regular_file(archive, error) || !PlayerCanOpen(archive_path))
        throw MixError("cannot open " + archive_path);
    std::uintmax_t size = std::filesystem::file_size(archive, error);
    if (error)
        throw MixError("cannot read the size of " + archive_path + ": " + error.message());
    known_ =
        size < kEndOfKnownArchives ? FindKnownArchive(static_cast<std::uint32_t>(size)) : nullptr;
    if (!known_)
        throw MixError(archive_path + ": Not a valid Kestrel MIX file! (" + std::to_string(size) +
                       " bytes is not the size of a known archive)");

    std::string directory = IndexDirectory(index_dir);
    index_path_ = directory + known_->index_name;
    if (index_path_.size() >= static_cast<std::size_t>(kPathChars))
        throw MixError("index path " + index_path_ + " is longer than the player allows");
    if (!PlayerCanOpen(index_path_))
        throw MixError("missing index file " + index_path_);
    std::uintmax_t index_size = std::filesystem::file_size(FileSystemPath(index_path_), error);
    if (error || index_size < static_cast<std::uintmax_t>(kTrackRecordBytes))
        throw MixError("index file " + index_path_ + " holds no track record");

    player_ = std::make_unique<PlayerState>();
    previous_instance_ = player_instance;
    player_->InitPlayer(nullptr, directory.c_str());
    if (!player_->chunk_buffer || player_->OpenArchive(archive_path.c_str()) != 0) {
        Release();
        throw MixError(archive_path + ": Not a valid Kestrel MIX file!");
    }
}

ArchiveReader::~ArchiveReader() {
    Release();
}

void ArchiveReader::Release() {
    if (!player_)
        return;
    if (player_->archive_file != INVALID_HANDLE_VALUE && player_->archive_file != nullptr)
        CloseHandle(player_->archive_file);
    player_->archive_file = INVALID_HANDLE_VALUE;
    player_->FreePlayer();
    if (player_instance == player_.get())
        player_instance = previous_instance_;
    player_.reset();
}

int ArchiveReader::TrackCount() const {
    return player_->track_count;
}

const TrackRecord& ArchiveReader::Track(int index) const {
    return player_->tracks[index];
}

std::uint32_t ArchiveReader::TotalTrackBytes() const {
    return static_cast<std::uint32_t>(player_->total_size);
}

bool ArchiveReader::ReadHeader(int index, TrackHeader* header) {
    return ReadTrackHeader(player_->archive_file, Track(index).offset, header);
}
