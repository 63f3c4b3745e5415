#include "platform/standin/handles.h"
#include "platform/standin/testing.h"

#include <mutex>
#include <unordered_set>

namespace standin {
namespace {

std::mutex handles_lock;
std::unordered_set<KernelObject*>& Live() {
    static auto* live = new std::unordered_set<KernelObject*>;
    return *live;
}

thread_local DWORD last_error = NO_ERROR;

} // namespace

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> hold(handles_lock);
    Live().insert(object);
    return object;
}

KernelObject* LookUpHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> hold(handles_lock);
    return Live().count(object) ? object : nullptr;
}

KernelObject* ReleaseHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> hold(handles_lock);
    return Live().erase(object) ? object : nullptr;
}

std::string NativePath(const char* path) {
    std::string native(path ? path : "");
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

long OpenHandleCount() {
    std::lock_guard<std::mutex> hold(handles_lock);
    return static_cast<long>(Live().size());
}

} // namespace standin

DWORD GetLastError() {
    return standin::last_error;
}
void SetLastError(DWORD error) {
    standin::last_error = error;
}

BOOL CloseHandle(HANDLE object) {
    standin::KernelObject* released = standin::ReleaseHandle(object);
    if (!released) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete released;
    return TRUE;
}
