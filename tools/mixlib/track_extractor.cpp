#include "tools/mixlib/track_extractor.h"
#include "decoder/track_decoder.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/wav_file.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

// Decoded straight into, and written from: big enough that a write is one
// system call per few hundred thousand samples, small beside any track.
constexpr int kExtractBufferBytes = kPlaybackBlockBytes * 224;

// The track's header, checked as the player checks it. Messages name the
// track by its number as users see it, from 1.
TrackHeader CheckedHeader(ArchiveReader& archive, int index) {
    const std::string track = "track " + std::to_string(std::int64_t{index} + 1);
    if (index < 0 || index >= archive.TrackCount())
        throw MixError(track + " does not exist (the archive has " +
                       std::to_string(archive.TrackCount()) + " tracks, numbered from 1)");
    TrackHeader header{};
    if (!archive.ReadHeader(index, &header))
        throw MixError(track + ": Not a valid Kestrel MIX file!");
    if (header.output_size > static_cast<std::uint32_t>(INT_MAX))
        throw MixError(track + ": header claims more audio than the player can play");
    return header;
}

} // namespace

std::uint16_t DecodeTrack(ArchiveReader& archive, int index, const PcmSink& sink) {
    const TrackHeader header = CheckedHeader(archive, index);
    TrackDecoder decoder;
    decoder.Attach(&archive.Source(), archive.Track(index).offset);
    decoder.Seek(0, true);
    // Playback decodes a block at a time until the stream ends or a block
    // reaches the header's length, and keeps that last block whole.
    std::int64_t left = PlayedPcmBytes(header.output_size);
    auto buffer = std::make_unique<char[]>(kExtractBufferBytes);
    while (left > 0) {
        const int wanted = static_cast<int>(std::min<std::int64_t>(left, kExtractBufferBytes));
        const int got = decoder.Read(buffer.get(), wanted);
        if (got > 0)
            sink(buffer.get(), static_cast<std::size_t>(got));
        if (got < wanted)
            break; // the stream ended
        left -= got;
    }
    return header.sample_rate;
}

ExtractedTrack ExtractTrack(ArchiveReader& archive, int index) {
    ExtractedTrack track;
    track.sample_rate = DecodeTrack(archive, index, [&](const char* pcm, std::size_t bytes) {
        const std::size_t had = track.samples.size();
        track.samples.resize(had + bytes / 2);
        std::memcpy(track.samples.data() + had, pcm, bytes);
    });
    return track;
}

void ExtractTrackToWav(ArchiveReader& archive, int index, const std::string& path) {
    CheckedHeader(archive, index); // a damaged track leaves no file behind
    PendingFile file(path);
    std::ofstream out(file.TempPath(), std::ios::binary | std::ios::trunc);
    if (!out)
        throw MixError("cannot create " + file.FinalPath().string());
    // The header's sizes are known once the track has been decoded: room for
    // it first, filled in at the end.
    std::vector<std::uint8_t> header = WavHeader(0, 0);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    std::uint64_t data_bytes = 0;
    const std::uint16_t rate = DecodeTrack(archive, index, [&](const char* pcm, std::size_t bytes) {
        out.write(pcm, static_cast<std::streamsize>(bytes));
        data_bytes += bytes;
    });
    header = WavHeader(data_bytes, rate);
    out.seekp(0);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    out.close();
    if (!out)
        throw MixError("cannot write " + file.FinalPath().string());
    file.Commit();
}
