// Kernel objects behind the stand-in's handles.
#pragma once

#include "platform/standin/windows.h"

#include <string>

namespace standin {

struct KernelObject {
    virtual ~KernelObject() = default;
    // WaitForSingleObject on this object; objects that cannot be waited for
    // fail.
    virtual DWORD Wait(DWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
};

// Registers a new object and returns its handle.
HANDLE RegisterHandle(KernelObject* object);
// The object behind a live handle, or null.
KernelObject* LookUpHandle(HANDLE handle);
// Unregisters a handle and returns its object (the caller deletes it).
KernelObject* ReleaseHandle(HANDLE handle);

template <typename T> T* HandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookUpHandle(handle));
}

// Maps a Windows path (backslashes) onto the host's file system.
std::string NativePath(const char* path);

} // namespace standin
