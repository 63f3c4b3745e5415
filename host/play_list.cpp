#include "host/play_list.h"

#include "catalogue/ansi_text.h"
#include "platform/win32.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size())
        return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = text[text.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

// A name the player takes as it stands: rooted (a drive, a separator first)
// or a stream's address; any other is relative to the playlist.
bool IsAbsolute(const std::string& name) {
    return name.empty() || name[0] == '\\' || name[0] == '/' ||
           (name.size() > 1 && name[1] == ':') || name.find("://") != std::string::npos;
}

// The playlist's folder in full, ending in a separator.
std::string FolderOf(const std::string& path) {
    char full[MAX_PATH] = {};
    DWORD size = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::string whole = size > 0 && size < MAX_PATH ? full : path;
    std::size_t slash = whole.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : whole.substr(0, slash + 1);
}

} // namespace

bool IsPlaylistName(const std::string& name) {
    return EndsWithIgnoringCase(name, ".m3u") || EndsWithIgnoringCase(name, ".m3u8");
}

bool ReadPlaylist(const std::string& path, std::vector<PlayEntry>* entries, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the playlist " + path;
        return false;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        *error = "cannot read the playlist " + path;
        return false;
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    const std::string folder = FolderOf(path);
    PlayEntry pending;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("#EXTINF:", 0) == 0) {
            pending = PlayEntry{};
            pending.listed = true;
            const std::size_t comma = line.find(',');
            const std::string seconds =
                line.substr(8, comma == std::string::npos ? std::string::npos : comma - 8);
            char* after = nullptr;
            const long value = std::strtol(seconds.c_str(), &after, 10);
            pending.seconds =
                after != seconds.c_str() && *after == '\0' && value >= -1 && value <= 0x7FFFFFFF
                    ? static_cast<int>(value)
                    : -1;
            if (comma != std::string::npos)
                pending.title = line.substr(comma + 1);
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        const std::string name = Utf8ToAnsi(line);
        pending.name = IsAbsolute(name) ? name : folder + name;
        entries->push_back(pending);
        pending = PlayEntry{};
    }
    return true;
}

bool ExpandPlaylists(const std::vector<std::string>& arguments, std::vector<PlayEntry>* entries,
                     std::string* error) {
    for (const std::string& argument : arguments) {
        if (!IsPlaylistName(argument)) {
            PlayEntry entry;
            entry.name = argument;
            entries->push_back(entry);
        } else if (!ReadPlaylist(argument, entries, error)) {
            return false;
        }
    }
    return true;
}
