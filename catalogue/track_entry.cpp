#include "catalogue/track_entry.h"

#include <algorithm>
#include <cstring>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EndsWithExtension(std::string_view name) {
    if (name.size() < kTrackEntryExtension.size())
        return false;
    const std::string_view tail = name.substr(name.size() - kTrackEntryExtension.size());
    return std::equal(tail.begin(), tail.end(), kTrackEntryExtension.begin(),
                      [](char a, char b) { return Upper(a) == b; });
}

} // namespace

std::optional<TrackEntry> ParseTrackEntry(std::string_view name) {
    if (name.size() > static_cast<std::size_t>(kLongestEntryName) || !EndsWithExtension(name))
        return std::nullopt;
    name.remove_suffix(kTrackEntryExtension.size());
    const std::size_t mark = name.find(kTrackEntryMark);
    if (mark == std::string_view::npos || mark == 0)
        return std::nullopt;
    const std::string_view digits = name.substr(mark + 1);
    // One bar only, then 1 to 6 digits, the first not a zero: one name per
    // track, so a playlist never holds the same track under two names.
    if (digits.empty() || digits.size() > 6 || digits[0] == '0')
        return std::nullopt;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return TrackEntry{name.substr(0, mark), number};
}

int FormatTrackEntry(std::string_view archive, int number, char* out, int room) {
    if (room > 0)
        out[0] = '\0';
    if (archive.empty() || archive.find(kTrackEntryMark) != std::string_view::npos || number < 1 ||
        number > kHighestTrackNumber)
        return 0;
    char digits[8];
    int used = 0;
    for (int rest = number; rest > 0; rest /= 10)
        digits[used++] = static_cast<char>('0' + rest % 10);
    const std::size_t length = archive.size() + 1 + used + kTrackEntryExtension.size();
    if (length > static_cast<std::size_t>(kLongestEntryName) ||
        length + 1 > static_cast<std::size_t>(std::max(room, 0)))
        return 0;
    char* at = std::copy(archive.begin(), archive.end(), out);
    *at++ = kTrackEntryMark;
    while (used > 0)
        *at++ = digits[--used];
    at = std::copy(kTrackEntryExtension.begin(), kTrackEntryExtension.end(), at);
    *at = '\0';
    return static_cast<int>(length);
}
