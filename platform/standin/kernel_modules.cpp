// Modules: the executable itself, and shared libraries loaded by path.
#include "platform/standin/handles.h"

#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

struct StandinModule : standin::KernelObject {
    StandinModule(void* handle, std::string file) : library(handle), path(std::move(file)) {}
    ~StandinModule() override {
        if (library)
            ::dlclose(library);
    }
    void* library;
    std::string path; // in Windows form, with backslashes
};

namespace {

std::string WindowsPath(std::string native) {
    for (char& c : native)
        if (c == '/')
            c = '\\';
    return native;
}

StandinModule& Executable() {
    static auto* self = [] {
        char path[PATH_MAX] = {};
        ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        return new StandinModule(nullptr, WindowsPath(std::string(path, n > 0 ? n : 0)));
    }();
    return *self;
}

} // namespace

HMODULE LoadLibraryA(LPCSTR path) {
    std::string native = standin::NativePath(path);
    if (native.find('/') == std::string::npos)
        native = "./" + native;
    void* library = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    char full[PATH_MAX];
    std::string resolved = ::realpath(native.c_str(), full) ? full : native;
    auto* module = new StandinModule(library, WindowsPath(resolved));
    standin::RegisterHandle(module);
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    auto* loaded = standin::HandleAs<StandinModule>(module);
    void* symbol = loaded && loaded->library ? ::dlsym(loaded->library, name) : nullptr;
    if (!symbol)
        SetLastError(ERROR_INVALID_HANDLE);
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    return CloseHandle(module);
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (name == nullptr)
        return &Executable();
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    StandinModule* found =
        module == nullptr ? &Executable() : standin::HandleAs<StandinModule>(module);
    if (module == &Executable())
        found = &Executable();
    if (!found || size == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string& path = found->path;
    if (path.size() + 1 > size) {
        // Truncated and still terminated, as on current Windows.
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(path.size());
}
