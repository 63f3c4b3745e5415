// Naming archives and finding their indexes the way the player does.
#pragma once

#include "catalogue/known_archives.h"

#include <string>

// The archive's name as users give it: its index file name without ".MIX".
std::string ArchiveName(const KnownArchive& known);
// The row whose name matches, ignoring case, or null.
const KnownArchive* FindKnownArchiveByName(const std::string& name);
// "Quarry (454605294 bytes), Marlin (...), ..." for error messages.
std::string KnownArchiveList();

// `directory` as the player's own directory is kept: ending in a separator
// (the system's own, if it has none), so that the index path is the
// directory followed by the index name.
std::string IndexDirectory(const std::string& directory);
std::string IndexPath(const std::string& directory, const KnownArchive& known);
// The folder the running program was started from, ending in a separator.
std::string ProgramDirectory();
