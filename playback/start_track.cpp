// Starting the current track: header check, format, output, thread.
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/stream_reader.h"
#include "playback/playback_thread.h"

namespace {
void ShowNotValid() {
    MessageBoxA(nullptr, "Not a valid Kestrel MIX file!", "Error", MB_OK | MB_ICONWARNING);
}
} // namespace

int PlayerState::StartTrack() {
    OutputServices& output = *module->output;
    auto fail = [&](bool close_output) {
        if (close_output)
            output.close();
        CloseHandle(archive_file);
        archive_file = INVALID_HANDLE_VALUE;
        switching_track = 0;
        return 1;
    };

    TrackHeader header{};
    // Without its work buffers (their allocation failed at init) the player
    // cannot play anything.
    if (!pcm_buffer || !chunk_buffer)
        return fail(false);
    if (!ReadTrackHeader(archive_file, static_cast<std::uint32_t>(track_offset.load()), &header)) {
        ShowNotValid();
        return fail(false);
    }

    {
        StreamLock hold;
        track_size = static_cast<int>(header.compressed_size);
        output_length = static_cast<int>(header.output_size);
        bytes_per_frame = bits_per_sample / 8 * channels;
        sample_rate = header.sample_rate;
        output_position = 0;
        lstrcpynA(title, tracks[current_track].title, kPathChars);
        // The only allocation of a play: seek checkpoints sized for this track.
        stream_reader.checkpoints.Prepare(output_length);
    }
    finish_requested = 0;
    paused = 0;
    end_of_stream = 0;
    decode_position_ms = 0;
    seek_request_ms = kNoSeekRequest;
    awaiting_restart = 0;

    SeekStream(0, 1);

    const int rate = sample_rate;
    // A track change keeps the output open, unless the new track needs
    // another rate: then the output is reopened at that rate.
    bool kept_open = switching_track && rate == output_sample_rate;
    if (!kept_open) {
        if (switching_track)
            output.close();
        max_latency_ms = output.open(rate, channels, bits_per_sample, -1, -1);
        if (max_latency_ms < 0)
            return fail(false);
        output_sample_rate = rate;
    }

    module->set_stream_info(rate * channels * bits_per_sample / 1000, rate / 1000, channels, 1);
    module->analysis_init(max_latency_ms, rate);
    module->vis_set_format(rate, channels);
    output.set_volume(kKeepVolume);

    stop_requested = 0;
    // The track change, if one was under way, is complete once the thread
    // runs; clear its flag first, as a short track's thread may already set
    // it again for the next change before this call returns.
    const bool changing_track = switching_track;
    switching_track = 0;
    DWORD id = 0;
    HANDLE created = CreateThread(nullptr, 0, PlaybackThread, &stop_requested, 0, &id);
    if (!created) {
        // A failed play leaves the archive closed either way; an output that
        // a track change kept open stays open, as on every failure of a
        // track change.
        return fail(!changing_track);
    }
    thread = created;
    thread_id = id;
    return 0;
}
