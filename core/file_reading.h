// How the plug-in opens the files it reads (archives, indexes): shared, so
// that other programs may read and write them meanwhile.
#pragma once

#include "platform/win32.h"

// `path` opened for reading, or INVALID_HANDLE_VALUE.
HANDLE OpenForReading(const char* path);

// The size of an open file, or INVALID_FILE_SIZE from 4 GiB on: no archive
// or index is that large.
DWORD SizeBelow4GiB(HANDLE file);
