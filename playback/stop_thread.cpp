// Ending the playback thread.
#include "core/player_state.h"
#include "core/hand_over_lock.h"

void PlayerState::StopThread() {
    if (thread == NO_THREAD || thread == nullptr)
        return;
    stop_requested = 1;
    if (wake_event)
        SetEvent(wake_event);
    // Every wait of the playback loop gives way to the stop flag within one
    // pass (a wait the event cuts short, a sleep of 10 ms, a block, or a
    // seek), so this wait is short and needs no limit, nor a forced end that
    // could leave a lock held. The thread may be inside a host stage that
    // waits for the host's window to answer a message: that is answered.
    WaitAnsweringSentMessages(thread);
    CloseHandle(thread);
    thread = NO_THREAD;
}
