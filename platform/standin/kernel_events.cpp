// Event objects. WaitForSingleObject on an auto-reset event takes the signal
// with it; a manual-reset one stays signalled until ResetEvent.
#include "platform/standin/handles.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

struct EventObject : standin::KernelObject {
    EventObject(bool manual, bool initial) : manual_reset(manual), signaled(initial) {}

    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> hold(lock);
        auto ready = [&] { return signaled; };
        if (milliseconds == INFINITE)
            changed.wait(hold, ready);
        else if (!changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ready))
            return WAIT_TIMEOUT;
        if (!manual_reset)
            signaled = false;
        return WAIT_OBJECT_0;
    }

    void Set(bool state) {
        std::lock_guard<std::mutex> hold(lock);
        signaled = state;
        if (state)
            changed.notify_all();
    }

    const bool manual_reset;
    bool signaled;
    std::mutex lock;
    std::condition_variable changed;
};

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    if (name) {
        SetLastError(ERROR_INVALID_PARAMETER); // named events are not needed here
        return nullptr;
    }
    return standin::RegisterHandle(new EventObject(manual_reset, initial_state));
}

BOOL SetEvent(HANDLE event) {
    auto* object = standin::HandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Set(true);
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto* object = standin::HandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Set(false);
    return TRUE;
}
