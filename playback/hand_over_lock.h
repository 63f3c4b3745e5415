// The hand-over lock, and how the host's thread waits without shutting out
// the messages the host's own stages send it from the playback thread.
#pragma once

#include "platform/win32.h"

// Waits for `object` (a thread to end, a lock to be free) on the host's
// thread. Host stages called on the playback thread may send messages to the
// host's main window and wait for the answer; those are answered meanwhile,
// and only those: a posted message (a restart request, say) stays queued, as
// handling it here would re-enter the plug-in.
DWORD WaitAnsweringSentMessages(HANDLE object);

// Holds the hand-over lock (an auto-reset event that is signalled while
// free) for a scope. Without the lock (its creation failed) it does nothing.
class HandOverLock {
public:
    enum class Side { HostThread, PlaybackThread };
    HandOverLock(HANDLE lock, Side side);
    ~HandOverLock();
    HandOverLock(const HandOverLock&) = delete;
    HandOverLock& operator=(const HandOverLock&) = delete;

private:
    HANDLE lock_;
};
