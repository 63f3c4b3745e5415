// Starting the current track: header check, format, output, thread.
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "playback/playback_thread.h"

namespace {
void ShowNotValid() {
    MessageBoxA(nullptr, "Not a valid Kestrel MIX file!", "Error", MB_OK | MB_ICONWARNING);
}
} // namespace

int PlayerState::FailStart() {
    // Whether or not a track change kept anything open, a failed start
    // leaves what a stop leaves: the next play starts afresh.
    ReleaseStream();
    return 1;
}

int PlayerState::StartThread() {
    stop_requested = 0;
    // The track change, if one was under way, is complete once the thread
    // runs; clear its flag first, as a short track's thread may already set
    // it again for the next change before this call returns.
    switching_track = 0;
    DWORD id = 0;
    HANDLE created = CreateThread(nullptr, 0, PlaybackThread, &stop_requested, 0, &id);
    if (!created)
        return FailStart();
    thread = created;
    thread_id = id;
    return 0;
}

int PlayerState::FinishStream() {
    awaiting_restart = 0;
    seek_request_ms = kNoSeekRequest;
    // Nothing is left to decode, and finish_requested stays set: the thread
    // finds the output played out and posts the end-of-stream notice.
    end_of_stream = 1;
    return StartThread();
}

int PlayerState::StartTrack() {
    OutputServices& output = *module->output;
    const bool changing_track = switching_track;

    TrackHeader header{};
    // Without its PCM buffer (its allocation failed at init) the player
    // cannot play anything.
    if (!pcm_buffer)
        return FailStart();
    if (!ReadTrackHeader(&header)) {
        ShowNotValid();
        return FailStart();
    }

    {
        StreamLock hold(stream_lock);
        track_size = static_cast<int>(header.compressed_size);
        output_length = static_cast<int>(header.output_size);
        bytes_per_frame = bits_per_sample / 8 * channels;
        sample_rate = header.sample_rate;
        output_position = 0;
        lstrcpynA(title, tracks[current_track].title, kPathChars);
        // The only allocation of a play: seek checkpoints sized for this track.
        decoder.checkpoints().Prepare(output_length);
    }
    finish_requested = 0;
    // A pause lasts across a track change; a plain play starts unpaused.
    if (!changing_track)
        paused = 0;
    end_of_stream = 0;
    decode_position_ms = 0;
    seek_request_ms = kNoSeekRequest;
    awaiting_restart = 0;

    SeekStream(0, 1);

    const int rate = sample_rate;
    // A track change keeps the output open, unless the new track needs
    // another rate: then the output is reopened at that rate, paused if the
    // user had paused. Whatever it still holds (the dialog's new track, begun
    // before the host's answer) is let go, so the track starts once.
    if (changing_track && rate == output_sample_rate) {
        output.flush(0);
    } else {
        if (output_sample_rate != 0) {
            output.close();
            output_sample_rate = 0;
        }
        max_latency_ms = output.open(rate, channels, bits_per_sample, -1, -1);
        if (max_latency_ms < 0)
            return FailStart();
        output_sample_rate = rate;
        if (paused)
            output.pause(1);
    }

    module->set_stream_info(rate * channels * bits_per_sample / 1000, rate / 1000, channels, 1);
    module->analysis_init(max_latency_ms, rate);
    module->vis_set_format(rate, channels);
    output.set_volume(kKeepVolume);
    return StartThread();
}
