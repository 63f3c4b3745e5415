// The lock that keeps seeking, block decoding and the choice of the current
// track from overlapping. It is recursive, so an operation that holds it may
// call another that takes it too.
#pragma once

#include "platform/win32.h"

class StreamMutex {
public:
    // Makes the lock; later calls do nothing until it is released.
    void Prepare() {
        if (!ready_) {
            InitializeCriticalSection(&section_);
            ready_ = true;
        }
    }
    // Deletes the lock, so that a library the host unloads leaves nothing
    // behind. Only while no playback thread exists.
    void Release() {
        if (ready_) {
            DeleteCriticalSection(&section_);
            ready_ = false;
        }
    }
    bool ready() const { return ready_; }

private:
    friend class StreamLock;
    CRITICAL_SECTION section_{};
    bool ready_ = false;
};

// Holds the stream lock for a scope.
class StreamLock {
public:
    explicit StreamLock(StreamMutex& mutex) : mutex_(mutex) {
        EnterCriticalSection(&mutex_.section_);
    }
    ~StreamLock() { LeaveCriticalSection(&mutex_.section_); }
    StreamLock(const StreamLock&) = delete;
    StreamLock& operator=(const StreamLock&) = delete;

private:
    StreamMutex& mutex_;
};
