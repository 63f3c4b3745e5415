// Starting the current track: header check, format, output, thread. The
// host's play starts a track on a new thread; the playback thread starts the
// next one itself when the host answers a restart request with a seek, or not
// at all.
#include "core/message_boxes.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "playback/playback_thread.h"

#include <algorithm>

int PlayerState::StartThread() {
    stop_requested = 0;
    DWORD id = 0;
    HANDLE created = CreateThread(nullptr, 0, PlaybackThread, &stop_requested, 0, &id);
    if (!created)
        return FailStart();
    thread = created;
    thread_id = id;
    return 0;
}

bool PlayerState::ReadCurrentHeader() {
    TrackHeader header{};
    if (!ReadTrackHeader(&header))
        return false;
    StreamLock hold(stream_lock);
    track_size = static_cast<int>(header.compressed_size);
    output_length = static_cast<int>(header.output_size);
    bytes_per_frame = bits_per_sample / 8 * channels;
    sample_rate = header.sample_rate;
    output_position = 0;
    lstrcpynA(title, tracks[current_track].title, kPathChars);
    // The only allocation of a play: seek checkpoints sized for this track.
    decoder.checkpoints().Prepare(output_length);
    return true;
}

void PlayerState::PrepareTrack(bool keep_pause, int start_byte) {
    // A pause lasts across a track change; a plain play starts unpaused.
    if (!keep_pause)
        paused = 0;
    end_of_stream = 0;
    SeekStream(start_byte, 1);
    decode_position_ms = PcmTimeMs(start_byte, sample_rate, bytes_per_frame);
}

bool PlayerState::OpenOutputFor(int rate) {
    OutputServices& output = *module->output;
    // An output open at the track's rate is kept; whatever it still holds
    // (the dialog's new track, begun before the answer) is let go, so the
    // track starts once. Otherwise it is opened at that rate, paused if the
    // user had paused.
    if (rate == output_sample_rate) {
        output.flush(0);
        return true;
    }
    if (output_sample_rate != 0) {
        output.close();
        output_sample_rate = 0;
    }
    max_latency_ms = output.open(rate, channels, bits_per_sample, -1, -1);
    if (max_latency_ms < 0)
        return false;
    output_sample_rate = rate;
    if (paused)
        output.pause(1);
    return true;
}

void PlayerState::AnnounceFormat() {
    const int rate = sample_rate;
    module->set_stream_info(rate * channels * bits_per_sample / 1000, rate / 1000, channels, 1);
    module->analysis_init(max_latency_ms, rate);
    module->vis_set_format(rate, channels);
    module->output->set_volume(kKeepVolume);
}

int PlayerState::StartTrack() {
    return StartTrackAt(false, 0);
}

int PlayerState::StartTrackAt(bool keep_pause, int start_byte) {
    // Without its PCM buffer (its allocation failed at init) the player
    // cannot play anything.
    if (!pcm_buffer)
        return FailStart();
    if (!ReadCurrentHeader()) {
        ShowNotValidArchive();
        return FailStart();
    }
    PrepareTrack(keep_pause, std::min(start_byte, static_cast<int>(output_length)));
    seek_request_ms = kNoSeekRequest;
    if (!OpenOutputFor(sample_rate))
        return FailStart();
    AnnounceFormat();
    return StartThread();
}

PlayerState::HereStart PlayerState::StartTrackHere() {
    if (!ReadCurrentHeader())
        return HereStart::BadHeader;
    PrepareTrack(true, 0);
    // A seek request that came as the host's answer stays pending: the
    // thread applies it to the new track next.
    if (!OpenOutputFor(sample_rate))
        return HereStart::OutputLost;
    AnnounceFormat();
    return HereStart::Started;
}
