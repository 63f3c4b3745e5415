// A private folder in memory-backed storage for the files a fuzz input is
// written to, so that the plug-in reads it through its real file paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The folder, made on first use and removed with its files at exit; its
// path ends in a slash.
const std::string& ScratchDirectory();

// Writes `size` bytes as the whole of `name` in the scratch folder and
// returns the file's path. Aborts if the file cannot be written.
std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size);

// Aborts with a message naming the broken invariant.
[[noreturn]] void InvariantFailed(const char* what, const char* file, int line);

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            InvariantFailed(#condition, __FILE__, __LINE__);                                       \
    } while (0)
