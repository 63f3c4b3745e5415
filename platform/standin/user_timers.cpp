// Thread timers. Each timer has a thread that sleeps for the period and then
// posts WM_TIMER to a hidden window of the timer's owner; that window's
// procedure runs the timer's routine on the owner's thread, as Windows runs
// a TIMERPROC from DispatchMessage.
#include "platform/standin/window_model.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Timer {
    HWND carrier = nullptr;
    TIMERPROC proc = nullptr;
    std::chrono::milliseconds period{0};
    std::atomic<bool> tick_waiting{false};
    std::mutex lock;
    std::condition_variable stop;
    bool stopped = false;
};

std::mutex timers_lock;
std::map<UINT_PTR, std::shared_ptr<Timer>>& Timers() {
    static auto* timers = new std::map<UINT_PTR, std::shared_ptr<Timer>>;
    return *timers;
}
UINT_PTR next_timer_id = 0x7000;

LRESULT CALLBACK CarrierProc(HWND, UINT message, WPARAM id, LPARAM) {
    if (message != WM_TIMER)
        return 0;
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> hold(timers_lock);
        auto found = Timers().find(id);
        if (found == Timers().end())
            return 0;
        timer = found->second;
    }
    timer->tick_waiting = false;
    timer->proc(nullptr, WM_TIMER, id, GetTickCount());
    return 0;
}

void Run(std::shared_ptr<Timer> timer, UINT_PTR id) {
    std::unique_lock<std::mutex> hold(timer->lock);
    while (!timer->stop.wait_for(hold, timer->period, [&] { return timer->stopped; })) {
        if (!timer->tick_waiting.exchange(true))
            PostMessageA(timer->carrier, WM_TIMER, id, 0);
    }
}

} // namespace

UINT_PTR SetTimer(HWND window, UINT_PTR, UINT milliseconds, TIMERPROC proc) {
    if (window || !proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto timer = std::make_shared<Timer>();
    timer->carrier = standin::MakeWindow("#timer", "", 0, nullptr, 0);
    standin::LookUpWindow(timer->carrier)->proc = CarrierProc;
    timer->proc = proc;
    timer->period = std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 1);
    UINT_PTR id = 0;
    {
        std::lock_guard<std::mutex> hold(timers_lock);
        id = ++next_timer_id;
        Timers()[id] = timer;
    }
    std::thread(Run, timer, id).detach();
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> hold(timers_lock);
        auto found = Timers().find(id);
        if (window || found == Timers().end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        timer = found->second;
        Timers().erase(found);
    }
    {
        std::lock_guard<std::mutex> hold(timer->lock);
        timer->stopped = true;
    }
    timer->stop.notify_all();
    DestroyWindow(timer->carrier);
    return TRUE;
}

namespace {
BOOL NoGeometry(LPRECT rect) {
    if (rect)
        *rect = RECT{0, 0, 0, 0};
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}
} // namespace

BOOL GetClientRect(HWND, LPRECT rect) {
    return NoGeometry(rect);
}
BOOL GetWindowRect(HWND, LPRECT rect) {
    return NoGeometry(rect);
}
BOOL MapDialogRect(HWND, LPRECT rect) {
    return NoGeometry(rect);
}
