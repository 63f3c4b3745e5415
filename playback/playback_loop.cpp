// The playback thread's body: decode while the output has room, feed the
// host's stages, apply seeks, and at the end of a track either hand over to
// the next enabled one or let the output drain.
#include "core/hand_over_lock.h"
#include "core/host_messages.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "decoder/track_stream.h"

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
    if (rate < kLowestSampleRate || frame <= 0)
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

// Waits `ms`, or less when a stop, a seek request or a track change wakes the
// thread.
void PlayerState::Idle(DWORD ms) {
    if (wake_event)
        WaitForSingleObject(wake_event, ms);
    else
        Sleep(ms);
}

int PcmTimeMs(std::int64_t bytes, int rate, int frame) {
    std::int64_t per_second = static_cast<std::int64_t>(rate) * frame;
    return per_second > 0 ? static_cast<int>(bytes * 1000 / per_second) : 0;
}

void PlayerState::ApplySeekRequest(int request) {
    OutputServices& output = *module->output;
    HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
    // A seek request restarts the output at the whole second before it.
    int position = std::max(request - request % 1000, 0);
    decode_position_ms = position;
    output.flush(position);
    int target = SeekTarget(position / 1000, sample_rate, bytes_per_frame);
    SeekStream(target, target < output_position);
    // A newer request that came in meanwhile stays pending.
    seek_request_ms.compare_exchange_strong(request, kNoSeekRequest);
}

bool PlayerState::FinishingHere() {
    HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
    if (!hand_over_state.Finishing() || hand_over_state.phase() != handover::Phase::Playing)
        return false;
    HandOverStep(handover::Event::TrackEnd);
    return true;
}

int PlayerState::PlaybackLoop(Shared<unsigned>* stop_flag) {
    OutputServices& output = *module->output;
    // In the tail: the track has been decoded to its end and the output
    // plays it out before the change to the next one.
    bool in_tail = false;
    bool yielded = false; // a sample of this track has reached the output
    unsigned generation = 0;
    {
        HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
        generation = hand_over_state.generation();
    }
    if (*stop_flag)
        return 0;
    do {
        const int frame = bytes_per_frame;
        const int block = frame * kBlockFrames;

        // Where the hand-over stands. While the host is asked to restart the
        // thread waits for its answer (a seek, or none in time, makes it start
        // the chosen track itself), decoding nothing unless the dialog's track
        // plays meanwhile.
        handover::Phase phase;
        bool decoding = true;

        {
            HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
            if (*stop_flag)
                return 0;
            phase = hand_over_state.phase();
            if (phase == handover::Phase::Asked && !StepWhileAsked(&decoding))
                return 0;
            phase = hand_over_state.phase();
            decoding = hand_over_state.Decoding();
            // Another track was made current.
            if (hand_over_state.generation() != generation) {
                generation = hand_over_state.generation();
                in_tail = false;
                yielded = false;
            }
        }
        if (phase == handover::Phase::Ended)
            return 0;
        if (phase == handover::Phase::Asked && !decoding) {
            Idle(kIdleSleepMs);
            continue;
        }

        if (phase == handover::Phase::Draining) {
            // With the output gone there is nothing to play out.
            bool played_out = output_sample_rate == 0;
            if (!played_out) {
                output.can_write();
                played_out = !output.is_playing();
            }
            if (played_out) {
                HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
                // A seek may have brought the last track back meanwhile.
                if (hand_over_state.phase() == handover::Phase::Draining) {
                    HandOverStep(handover::Event::Drained);
                    PostEndOfStreamNotice(module->main_window);
                    return 0;
                }
                continue;
            }
            Idle(kIdleSleepMs);
            continue;
        }

        int request = seek_request_ms;
        if (request != kNoSeekRequest) {
            ApplySeekRequest(request);
            in_tail = false;
            // Every track was disabled: the seek has emptied the output.
            if (FinishingHere())
                continue;
        }

        if (in_tail) {
            // Let the output play out what it holds; a stop or a seek request
            // ends the wait without choosing the next track.
            if (output.is_playing()) {
                Idle(kIdleSleepMs);
                continue;
            }
            HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
            // A stop that came before this point ends the stream as a plain
            // stop does; a change the dialog made meanwhile is already the
            // next track.
            if (*stop_flag)
                return 0;
            if (hand_over_state.generation() == generation)
                StepAtTrackEnd(yielded);
            in_tail = false;
            continue;
        }

        int need = module->dsp_is_active() ? 2 * block : block;
        int room = output.can_write();
        if (room < need) {
            Idle(RoomWaitMs(need, room, sample_rate, frame, max_latency_ms));
            continue;
        }
        int got = 0;
        int stamp = 0;
        int clock_after = 0;
        {
            // The block and its addition to the position are one step.
            StreamLock hold(stream_lock);
            got = DecodeBlock(pcm_buffer, block);
            output_position += got;
            stamp = decode_position_ms;
            clock_after = PcmTimeMs(output_position, sample_rate, frame);
        }
        if (got > 0) {
            const int bits = bits_per_sample;
            const int count = channels;
            const int rate = sample_rate;
            module->analysis_add_pcm(pcm_buffer, count, bits, stamp);
            module->vis_add_pcm(pcm_buffer, count, bits, stamp);
            if (module->dsp_is_active()) {
                int frames = module->dsp_process(reinterpret_cast<short*>(pcm_buffer), got / frame,
                                                 bits, count, rate);
                // Never more than the buffer holds, whatever the stage says.
                got = static_cast<int>(std::clamp<std::int64_t>(
                    static_cast<std::int64_t>(frames) * frame, 0, kPcmBufferBytes));
            }
            HandOverLock hold(hand_over, HandOverLock::Side::PlaybackThread);
            // A block of a track the user has just left is not written.
            if (hand_over_state.generation() != generation)
                continue;
            output.write(pcm_buffer, got);
            // The clock moves on with the block the output now holds, so
            // that the host's time never counts a block not yet written.
            decode_position_ms = clock_after;
        }
        if (got > 0)
            yielded = true;
        // Every track was disabled: the block in hand was the last.
        if (FinishingHere())
            continue;
        if (got > 0 && !end_of_stream && output_position < output_length)
            continue;
        in_tail = true;
    } while (!*stop_flag);
    return 0;
}
