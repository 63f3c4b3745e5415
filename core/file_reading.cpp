#include "core/file_reading.h"

HANDLE OpenForReading(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD SizeBelow4GiB(HANDLE file) {
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    return high != 0 ? INVALID_FILE_SIZE : size;
}
