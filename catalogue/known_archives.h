// The archives the plug-in recognises, by their exact size in bytes.
#pragma once

#include <cstdint>

struct KnownArchive {
    std::uint32_t size;     // 0xFFFFFFFF ends the table
    const char* index_name; // file name of its index beside the plug-in
};

constexpr std::uint32_t kEndOfKnownArchives = 0xFFFFFFFF;

extern const KnownArchive kKnownArchives[];

// The row for an archive of this size, or null.
const KnownArchive* FindKnownArchive(std::uint32_t archive_size);
