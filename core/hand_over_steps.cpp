// The player's side of the hand-over machine: each step gets the facts it
// needs from the clock and the host's queue, under the hand-over lock that
// its caller holds.
#include "core/hand_over_lock.h"
#include "core/host_messages.h"
#include "core/player_state.h"
#include "core/plugin_record.h"

using handover::Phase;

handover::Action PlayerState::HandOverStep(handover::Event event, handover::Facts facts) {
    facts.now = GetTickCount();
    HWND window = module ? module->main_window : nullptr;
    facts.request_queued = RestartRequestQueued(window);
    facts.notice_queued = EndOfStreamNoticeQueued(window);
    return hand_over_state.Step(event, facts);
}

void PlayerState::ObserveHost() {
    // Only the host's own calls tell of its loop (a host stage may call in
    // from the playback thread), and only while a request waits for it.
    if (!hand_over_ready || GetCurrentThreadId() != host_thread_id)
        return;
    HandOverLock hold(hand_over, HandOverLock::Side::HostThread);
    if (!hand_over_state.RequestLive())
        return;
    HandOverStep(handover::Event::Query);
    // Passed by: the playback thread need not wait for an answer any more.
    if (!hand_over_state.RequestLive() && wake_event)
        SetEvent(wake_event);
}

namespace {

// Reads the machine under the hand-over lock while the player has one (not
// before init, nor after quit).
template <typename Read> bool Look(PlayerState& p, Read read) {
    if (!p.hand_over_ready)
        return read(p.hand_over_state);
    HandOverLock hold(p.hand_over, HandOverLock::Side::HostThread);
    return read(p.hand_over_state);
}

} // namespace

bool PlayerState::awaiting_restart() {
    return Look(*this, [](const handover::Machine& m) {
        return m.phase() == Phase::Asked && !m.Decoding();
    });
}

bool PlayerState::switching_track() {
    return Look(*this, [](const handover::Machine& m) {
        return m.phase() == Phase::Asked || m.phase() == Phase::StoppedAsked;
    });
}

bool PlayerState::finish_requested() {
    return Look(*this, [](const handover::Machine& m) { return m.Finishing(); });
}
