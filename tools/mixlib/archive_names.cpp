#include "tools/mixlib/archive_names.h"
#include "core/player_state.h"
#include "tools/mixlib/file_output.h"

#include <cctype>
#include <filesystem>

namespace {
constexpr char kIndexExtension[] = ".MIX";
}

std::string ArchiveName(const KnownArchive& known) {
    std::string name = known.index_name;
    const std::size_t extension = sizeof kIndexExtension - 1;
    if (name.size() > extension &&
        name.compare(name.size() - extension, extension, kIndexExtension) == 0)
        name.resize(name.size() - extension);
    return name;
}

const KnownArchive* FindKnownArchiveByName(const std::string& name) {
    for (const KnownArchive* row = kKnownArchives; row->size != kEndOfKnownArchives; ++row) {
        std::string known = ArchiveName(*row);
        if (known.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(known[i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        if (same)
            return row;
    }
    return nullptr;
}

std::string KnownArchiveList() {
    std::string list;
    for (const KnownArchive* row = kKnownArchives; row->size != kEndOfKnownArchives; ++row) {
        if (!list.empty())
            list += ", ";
        list += ArchiveName(*row) + " (" + std::to_string(row->size) + " bytes)";
    }
    return list;
}

std::string IndexDirectory(const std::string& directory) {
    if (directory.empty() || directory.back() == '\\' || directory.back() == '/')
        return directory;
    return directory + static_cast<char>(std::filesystem::path::preferred_separator);
}

std::string IndexPath(const std::string& directory, const KnownArchive& known) {
    return IndexDirectory(directory) + known.index_name;
}

std::string ProgramDirectory() {
    char path[kPathChars] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, kPathChars);
    if (length == 0 || length >= static_cast<DWORD>(kPathChars))
        return std::string();
    // In the system's own form: the module's path comes with backslashes.
    std::filesystem::path folder = FileSystemPath(path).make_preferred().parent_path();
    return IndexDirectory(folder.string());
}
