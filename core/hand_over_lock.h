// The hand-over lock, and how the host's thread waits without shutting out
// the messages the host's own stages send it from the playback thread.
#pragma once

#include "platform/win32.h"

// Waits for `object` (a thread to end) on the host's thread. Host stages
// called on the playback thread may send messages to the host's main window
// and wait for the answer; those are answered meanwhile, and only those: a
// posted message (a restart request, say) stays queued, as handling it here
// would re-enter the plug-in.
DWORD WaitAnsweringSentMessages(HANDLE object);

// Holds the hand-over lock for a scope. The playback thread enters it as any
// critical section; the host's thread answers sent messages while it waits,
// since the playback thread may hold it across an output call that waits for
// the host's window.
class HandOverLock {
public:
    enum class Side { HostThread, PlaybackThread };
    HandOverLock(CRITICAL_SECTION& lock, Side side);
    ~HandOverLock();
    HandOverLock(const HandOverLock&) = delete;
    HandOverLock& operator=(const HandOverLock&) = delete;

private:
    CRITICAL_SECTION& lock_;
};
