// Threads, waits and critical sections.
#include "platform/standin/handles.h"
#include "platform/standin/testing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

struct ThreadState {
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    DWORD id = 0;
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
    DWORD exit_code = 0;
};

struct ThreadObject : standin::KernelObject {
    explicit ThreadObject(std::shared_ptr<ThreadState> s) : state(std::move(s)) {}

    // A thread's handle is signalled once the thread has ended.
    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> hold(state->lock);
        auto ended = [&] { return state->finished; };
        if (milliseconds == INFINITE)
            state->ended.wait(hold, ended);
        else if (!state->ended.wait_for(hold, std::chrono::milliseconds(milliseconds), ended))
            return WAIT_TIMEOUT;
        return WAIT_OBJECT_0;
    }

    std::shared_ptr<ThreadState> state;
};

std::atomic<DWORD> next_thread_id{1000};
thread_local DWORD this_thread_id = 0;

void* RunThread(void* raw) {
    // The thread keeps its own share of the state until it has signalled.
    std::unique_ptr<std::shared_ptr<ThreadState>> owned(
        static_cast<std::shared_ptr<ThreadState>*>(raw));
    std::shared_ptr<ThreadState> state = *owned;
    this_thread_id = state->id;
    DWORD code = state->start(state->parameter);
    std::lock_guard<std::mutex> hold(state->lock);
    state->exit_code = code;
    state->finished = true;
    state->ended.notify_all();
    return nullptr;
}

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD thread_id) {
    if (!start || flags != 0 || standin::ShouldFail(standin::Fault::CreateThread)) {
        SetLastError(start && flags == 0 ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    state->start = start;
    state->parameter = parameter;
    DWORD id = next_thread_id++;
    state->id = id;
    auto* share = new std::shared_ptr<ThreadState>(state);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunThread, share) != 0) {
        delete share;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    pthread_detach(thread);
    if (thread_id)
        *thread_id = id;
    return standin::RegisterHandle(new ThreadObject(state));
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    standin::KernelObject* target = standin::LookUpHandle(object);
    if (!target) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return target->Wait(milliseconds);
}

BOOL GetExitCodeThread(HANDLE object, LPDWORD exit_code) {
    auto* thread = standin::HandleAs<ThreadObject>(object);
    if (!thread || !exit_code) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(thread->state->lock);
    *exit_code = thread->state->finished ? thread->state->exit_code : 259; // STILL_ACTIVE
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (this_thread_id == 0)
        this_thread_id = next_thread_id++;
    return this_thread_id;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->lock = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->lock)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    return static_cast<std::recursive_mutex*>(section->lock)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->lock);
    section->lock = nullptr;
}
