#include "tools/mixlib/archive_builder.h"
#include "core/player_state.h"
#include "tools/mixlib/adpcm_encoder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::uint64_t AlignUp(std::uint64_t value) {
    return (value + kTrackAlignment - 1) / kTrackAlignment * kTrackAlignment;
}

} // namespace

BuiltArchive BuildArchive(const std::string& archive_path, const KnownArchive& known,
                          const std::string& index_dir, const std::vector<TrackSource>& sources) {
    if (sources.empty())
        throw MixError("no tracks to put in the archive");
    std::error_code error;
    if (!std::filesystem::is_directory(FileSystemPath(index_dir), error))
        throw MixError("index folder " + index_dir + " does not exist");

    BuiltArchive built;
    built.index_path = IndexPath(index_dir, known);
    if (built.index_path.size() >= static_cast<std::size_t>(kPathChars))
        throw MixError("index path " + built.index_path + " is longer than the player allows");
    // Laid out before anything is encoded, so that tracks that do not fit
    // are refused at once.
    std::uint64_t position = kFirstTrackOffset;
    for (const TrackSource& source : sources) {
        position = AlignUp(position);
        BuiltTrack track;
        track.entry.offset = static_cast<std::uint32_t>(position);
        track.entry.sample_rate = source.sample_rate;
        track.entry.title = source.title;
        position += TrackBytesFor(source.samples.size());
        if (position > known.size)
            throw MixError("the tracks need at least " + std::to_string(position) +
                           " bytes but a " + ArchiveName(known) + " archive holds " +
                           std::to_string(known.size));
        built.tracks.push_back(std::move(track));
    }
    std::vector<std::vector<std::uint8_t>> images;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        EncodedTrack encoded;
        try {
            encoded = EncodeTrack(sources[i].samples, sources[i].sample_rate);
        } catch (const MixError& failure) {
            throw MixError("track '" + sources[i].title + "': " + failure.what());
        }
        built.tracks[i].entry.size = static_cast<std::uint32_t>(encoded.bytes.size());
        built.tracks[i].decoded = std::move(encoded.decoded);
        images.push_back(std::move(encoded.bytes));
    }

    PendingFile archive(archive_path);
    {
        // Created empty and sized first, so the gaps between tracks cost no disk.
        std::ofstream create(archive.TempPath(), std::ios::binary | std::ios::trunc);
        if (!create)
            throw MixError("cannot create " + archive_path);
    }
    std::filesystem::resize_file(archive.TempPath(), known.size, error);
    if (error)
        throw MixError("cannot make " + archive_path + " " + std::to_string(known.size) +
                       " bytes long: " + error.message());
    {
        std::fstream out(archive.TempPath(), std::ios::binary | std::ios::in | std::ios::out);
        for (std::size_t i = 0; i < images.size() && out; ++i) {
            out.seekp(static_cast<std::streamoff>(built.tracks[i].entry.offset));
            out.write(reinterpret_cast<const char*>(images[i].data()),
                      static_cast<std::streamsize>(images[i].size()));
        }
        out.close();
        if (!out)
            throw MixError("cannot write " + archive_path);
    }

    std::vector<IndexEntry> entries;
    for (const BuiltTrack& track : built.tracks)
        entries.push_back(track.entry);
    PendingFile index(built.index_path);
    WriteIndex(index.TempPath().string(), entries);

    archive.Commit();
    try {
        index.Commit();
    } catch (const MixError&) {
        // An archive without its index is no use; leave neither.
        std::filesystem::remove(archive.FinalPath(), error);
        throw;
    }
    return built;
}
