#include "core/hand_over_lock.h"

namespace {

// Answers what was sent to this thread's windows; takes nothing posted.
void AnswerSentMessages() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// How long the host's thread waits for a message before it tries the lock
// again: the playback thread holds it for one write or one seek.
constexpr DWORD kRetryMs = 1;

} // namespace

DWORD WaitAnsweringSentMessages(HANDLE object) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return woken;
        AnswerSentMessages();
    }
}

HandOverLock::HandOverLock(CRITICAL_SECTION& lock, Side side) : lock_(lock) {
    if (side == Side::PlaybackThread) {
        EnterCriticalSection(&lock_);
        return;
    }
    while (!TryEnterCriticalSection(&lock_)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kRetryMs, QS_SENDMESSAGE);
        AnswerSentMessages();
    }
}

HandOverLock::~HandOverLock() {
    LeaveCriticalSection(&lock_);
}
