#include "playback/hand_over_lock.h"

DWORD WaitAnsweringSentMessages(HANDLE object) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return woken;
        // Answers what was sent to this thread's windows; takes nothing posted.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

HandOverLock::HandOverLock(HANDLE lock, Side side) : lock_(lock) {
    if (!lock_)
        return;
    if (side == Side::HostThread)
        WaitAnsweringSentMessages(lock_);
    else
        WaitForSingleObject(lock_, INFINITE);
}

HandOverLock::~HandOverLock() {
    if (lock_)
        SetEvent(lock_);
}
