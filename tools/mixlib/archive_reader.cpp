#include "tools/mixlib/archive_reader.h"
#include "catalogue/track_index.h"
#include "core/file_reading.h"
#include "core/player_state.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

// Whether the player will be able to open it.
bool PlayerCanOpen(const std::string& path) {
    HANDLE file = OpenForReading(path.c_str());
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

    index_path_ = ::IndexPath(index_dir, *known_);
    if (index_path_.size() >= static_cast<std::size_t>(kPathChars))
        throw MixError("index path " + index_path_ + " is longer than the player allows");
    if (!PlayerCanOpen(index_path_))
        throw MixError("missing index file " + index_path_);
    // The player keeps the records read in full, decoded as it decodes them.
    std::ifstream index(FileSystemPath(index_path_), std::ios::binary);
    const std::vector<std::uint8_t> stored{std::istreambuf_iterator<char>(index),
                                           std::istreambuf_iterator<char>()};
    if (index.bad())
        throw MixError("cannot read index file " + index_path_);
    tracks_.resize(static_cast<std::size_t>(IndexRecordCount(stored.size())));
    DecodeTrackIndex(stored, tracks_.data());
    if (tracks_.empty())
        throw MixError("index file " + index_path_ + " holds no track record");

    file_ = OpenForReading(archive_path.c_str());
    if (file_ == INVALID_HANDLE_VALUE)
        throw MixError("cannot open " + archive_path);
    source_.Open(file_);
}

ArchiveReader::~ArchiveReader() {
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

std::uint32_t ArchiveReader::TotalTrackBytes() const {
    std::uint32_t sum = 0; // as the player sums them, modulo 2^32
    for (const TrackRecord& track : tracks_)
        sum += track.size;
    return sum;
}

bool ArchiveReader::ReadHeader(int index, TrackHeader* header) {
    return ReadTrackHeader(source_, Track(index).offset, header);
}
