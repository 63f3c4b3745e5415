// Files: CreateFileA, ReadFile, SetFilePointer, GetFileSize, GetFullPathNameA.
#include "platform/standin/handles.h"
#include "platform/standin/testing.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileObject : standin::KernelObject {
    explicit FileObject(int descriptor) : fd(descriptor) {}
    ~FileObject() override { ::close(fd); }
    int fd;
};

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_READ_FAULT;
    }
}

} // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    if (standin::ShouldFail(standin::Fault::CreateFileA)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Only what the plug-in asks for: reading a file that exists.
    if (!path || access != GENERIC_READ || disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(standin::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED); // Windows will not open a folder as a file
        return INVALID_HANDLE_VALUE;
    }
    return standin::RegisterHandle(new FileObject(fd));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED) {
    if (read)
        *read = 0;
    auto* object = standin::HandleAs<FileObject>(file);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (standin::ShouldFail(standin::Fault::ReadFile)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    DWORD total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < to_read) {
        ssize_t got = ::read(object->fd, bytes + total, to_read - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            SetLastError(ErrorFromErrno(errno));
            if (read)
                *read = total;
            return FALSE;
        }
        if (got == 0)
            break; // end of file: success with fewer bytes
        total += static_cast<DWORD>(got);
    }
    if (read)
        *read = total;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
    auto* object = standin::HandleAs<FileObject>(file);
    if (!object || method > FILE_END) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high word the distance is a signed 32-bit value; with one,
    // the two words form a signed 64-bit distance.
    std::int64_t move =
        distance_high
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distance_high)) << 32) |
                  static_cast<std::uint32_t>(distance))
            : distance;
    static constexpr int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    off_t base = method == FILE_BEGIN ? 0 : ::lseek(object->fd, 0, whence[method]);
    if (base + move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    off_t at = ::lseek(object->fd, base + move, SEEK_SET);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high)
        *distance_high = static_cast<LONG>(static_cast<std::uint64_t>(at) >> 32);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(static_cast<std::uint64_t>(at) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
    auto* object = standin::HandleAs<FileObject>(file);
    struct stat info {};
    if (!object || ::fstat(object->fd, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (size_high)
        *size_high = static_cast<DWORD>(size >> 32);
    SetLastError(NO_ERROR);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part) {
    std::string native = standin::NativePath(path);
    if (native.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (native[0] != '/') {
        char here[PATH_MAX];
        if (!::getcwd(here, sizeof here))
            return 0;
        native = std::string(here) + "/" + native;
    }
    std::string full = native;
    for (char& c : full)
        if (c == '/')
            c = '\\';
    if (full.size() + 1 > size)
        return static_cast<DWORD>(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    if (file_part) {
        char* slash = std::strrchr(buffer, '\\');
        *file_part = slash ? slash + 1 : buffer;
    }
    return static_cast<DWORD>(full.size());
}
