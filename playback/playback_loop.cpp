// The playback thread's body: decode while the output has room, feed the
// host's stages, apply seeks, and at the end of a track either hand over to
// the next enabled one or let the output drain.
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/stream_reader.h"

#include <algorithm>
#include <climits>

namespace {

constexpr DWORD kFullSleepMs = 20;    // the shortest wait for room in the output
constexpr DWORD kFullWaitMaxMs = 200; // the longest
constexpr DWORD kIdleSleepMs = 10;    // draining, or waiting for the host's restart

// How long to wait for the output to make room for `need` bytes when it has
// `room`: the time it takes to play the missing bytes, plus a quarter of its
// latency (at most the longest wait) so that it is refilled a few blocks at a
// time rather than one block per wake-up. Waking 50 times a second costs more
// than all the decoding; a stop or a seek request ends the wait at once.
DWORD RoomWaitMs(int need, int room, int rate, int frame, int latency) {
    if (rate < 100 || frame <= 0)
        return kFullSleepMs;
    std::int64_t missing = std::max(need - room, 0);
    std::int64_t wait = missing * 1000 / (static_cast<std::int64_t>(rate) * frame) +
                        std::clamp(latency / 4, 0, static_cast<int>(kFullWaitMaxMs));
    return static_cast<DWORD>(std::clamp<std::int64_t>(wait, kFullSleepMs, kFullWaitMaxMs));
}

// Bytes of PCM before a whole number of seconds, kept within the int range.
int SeekTarget(int seconds, int rate, int frame) {
    std::int64_t target = static_cast<std::int64_t>(seconds) * rate * frame;
    return static_cast<int>(std::min<std::int64_t>(target, INT_MAX));
}

} // namespace

int PlayerState::PlaybackLoop(Shared<unsigned>* stop_flag) {
    OutputServices& output = *module->output;
    bool done = false;
    if (*stop_flag)
        return 0;
    do {
        const int frame = bytes_per_frame;
        const int block = frame * kBlockFrames;

        // A seek request restarts the output at the whole second before it.
        int request = seek_request_ms;
        if (request != kNoSeekRequest) {
            int position = std::max(request - request % 1000, 0);
            decode_position_ms = position;
            output.flush(position);
            int target = SeekTarget(position / 1000, sample_rate, frame);
            SeekStream(target, target < output_position);
            if (!finish_requested) {
                // A newer request that came in meanwhile stays pending.
                seek_request_ms.compare_exchange_strong(request, kNoSeekRequest);
                done = false;
            } else {
                done = true;
            }
        }

        if (awaiting_restart) {
            Sleep(kIdleSleepMs);
            continue;
        }

        if (done) {
            output.can_write();
            if (!output.is_playing()) {
                PostMessageA(module->main_window, kEndOfStreamNotice, 0, 0);
                return 0;
            }
            Sleep(kIdleSleepMs);
            continue;
        }

        int need = module->dsp_is_active() ? 2 * block : block;
        int room = output.can_write();
        if (room < need) {
            DWORD wait = RoomWaitMs(need, room, sample_rate, frame, max_latency_ms);
            if (wake_event)
                WaitForSingleObject(wake_event, wait);
            else
                Sleep(kFullSleepMs);
            continue;
        }
        int got = 0;
        {
            // The block and its addition to the position are one step.
            StreamLock hold;
            got = DecodeBlock(pcm_buffer, block);
            output_position += got;
        }
        if (got > 0) {
            const int bits = bits_per_sample;
            const int count = channels;
            const int rate = sample_rate;
            int stamp = decode_position_ms;
            module->analysis_add_pcm(pcm_buffer, count, bits, stamp);
            module->vis_add_pcm(pcm_buffer, count, bits, stamp);
            if (rate >= 100)
                decode_position_ms += kBlockFrames * 1000 / rate;
            if (module->dsp_is_active()) {
                int frames = module->dsp_process(reinterpret_cast<short*>(pcm_buffer), got / frame,
                                                 bits, count, rate);
                // Never more than the buffer holds, whatever the stage says.
                got = static_cast<int>(std::clamp<std::int64_t>(
                    static_cast<std::int64_t>(frames) * frame, 0, kPcmBufferBytes));
            }
            output.write(pcm_buffer, got);
        }

        if (finish_requested) {
            done = true;
            continue;
        }
        if (got > 0 && !end_of_stream && output_position < output_length)
            continue;

        // End of the track.
        int next = NextEnabledTrack();
        if (next == -1) {
            done = true;
            continue;
        }
        // Let the output play out what it holds; a stop request ends the
        // wait, and the pass, without choosing the next track.
        while (output.is_playing()) {
            if (*stop_flag)
                return 0;
            Sleep(kIdleSleepMs);
        }
        output.flush(0);
        SelectTrack(next);
        awaiting_restart = 1;
        switching_track = 1;
        PostMessageA(module->main_window, kRestartRequest, 0, kRestartRequestCode);
    } while (!*stop_flag);
    return 0;
}
