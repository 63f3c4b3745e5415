#include "core/extended_file_info.h"
#include "catalogue/track_entry.h"
#include "core/file_reading.h"
#include "core/player_state.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

static_assert(kLongestEntryName < kPathChars);

namespace {

constexpr std::string_view kFamily = "Kestrel MIX audio";

// What the fields are made of, for a track or a whole archive.
struct Description {
    bool whole_archive = false;
    const char* title = "";
    const char* album = "";
    int number = 0; // from 1; 0 for a whole archive
    int track_count = 0;
    int length_ms = 0;
    int sample_rate = 0;
    std::uint32_t size = 0; // bytes in the archive
};

// A value built in a fixed buffer: the longest is a few short lines.
class Text {
public:
    Text& operator<<(std::string_view text) {
        const std::size_t take = std::min(text.size(), sizeof text_ - 1 - used_);
        std::memcpy(text_ + used_, text.data(), take);
        used_ += take;
        return *this;
    }
    Text& operator<<(std::int64_t number) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
    }
    std::string_view view() const { return {text_, used_}; }

private:
    char text_[256] = {};
    std::size_t used_ = 0;
};

bool SameField(const char* field, std::string_view name) {
    std::size_t i = 0;
    for (; field[i] && i < name.size(); ++i) {
        char c = field[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return !field[i] && i == name.size();
}

int Answer(std::string_view value, char* out, int out_size) {
    if (!out || out_size < 1)
        return 0;
    const std::size_t take = std::min(value.size(), static_cast<std::size_t>(out_size - 1));
    std::memcpy(out, value.data(), take);
    out[take] = '\0';
    return 1;
}

// The value of `field`, or false if it is not answered.
bool Value(const char* field, const Description& d, Text* text) {
    if (SameField(field, "type") || SameField(field, "lossless")) {
        *text << "0"; // audio; not lossless
    } else if (SameField(field, "family")) {
        *text << kFamily;
    } else if (SameField(field, "title")) {
        // No title at all: the player makes one from the entry's name.
        if (!*d.title)
            return false;
        *text << d.title;
    } else if (SameField(field, "album")) {
        *text << d.album;
    } else if (SameField(field, "formatinformation")) {
        if (d.whole_archive)
            *text << "Kestrel MIX archive\r\nTracks: " << d.track_count;
        else
            *text << "Kestrel MIX track " << d.number << " of " << d.track_count
                  << "\r\n4-bit IMA ADPCM, 16-bit mono\r\nSample rate: " << d.sample_rate << " Hz";
        *text << "\r\nSize: " << std::int64_t{d.size} << " bytes";
    } else if (d.whole_archive) {
        // Tracks at several rates and lengths: the rest has no one value.
        return false;
    } else if (SameField(field, "track")) {
        *text << d.number << "/" << d.track_count;
    } else if (SameField(field, "length")) {
        *text << d.length_ms;
    } else if (SameField(field, "samplerate")) {
        *text << d.sample_rate;
    } else if (SameField(field, "bitrate")) {
        // Two codes of 4 bits per byte: 4 bits per sample, in kbps.
        *text << (std::int64_t{d.sample_rate} * 4 + 500) / 1000;
    } else {
        return false;
    }
    return true;
}

// The playing stream; false while nothing plays.
bool DescribeStream(PlayerState& p, char* title, Description* d) {
    if (p.thread == NO_THREAD || p.thread == nullptr || !p.stream_lock.ready())
        return false;
    StreamLock hold(p.stream_lock); // the playback thread may be changing the track
    const int rate = p.sample_rate;
    if (rate < kLowestSampleRate || p.bytes_per_frame <= 0)
        return false;
    lstrcpynA(title, p.title, kPathChars);
    d->title = title;
    d->album = FileNameOf(p.archive_path);
    d->number = p.current_track + 1;
    d->track_count = p.track_count;
    d->length_ms = PcmTimeMs(p.output_length, rate, p.bytes_per_frame);
    d->sample_rate = rate;
    d->size = static_cast<std::uint32_t>(p.track_size.load());
    return true;
}

} // namespace

int ExtendedFileInfo(PlayerState& p, const char* file, const char* field, char* out, int out_size) {
    if (!field || !out || out_size < 1)
        return 0;
    Description d;
    Text text;
    char title[kPathChars]; // the playing track's
    char name[kPathChars];  // a track entry's archive
    TrackFacts facts;       // a track entry's track
    const std::optional<TrackEntry> entry =
        file && *file ? ParseTrackEntry(file) : std::optional<TrackEntry>();
    if (!file || !*file) {
        // The player asks this at load to sort its plug-ins: nothing is touched.
        if (SameField(field, "type"))
            return Answer("0", out, out_size);
        if (!DescribeStream(p, title, &d))
            return 0;
    } else if (entry) {
        if (!p.LookUpTrack(file, &facts))
            return 0;
        d.title = facts.record.title;
        d.number = entry->number;
        d.track_count = facts.track_count;
        d.length_ms = PcmTimeMs(facts.header.output_size, facts.header.sample_rate, 2);
        d.sample_rate = facts.header.sample_rate;
        d.size = facts.record.size;
        // The album is the archive's file name.
        std::memcpy(name, entry->archive.data(), entry->archive.size());
        name[entry->archive.size()] = '\0';
        d.album = FileNameOf(name);
    } else if (std::strchr(file, kTrackEntryMark)) {
        // No file name holds a bar: a track entry spelt wrongly names nothing.
        return 0;
    } else {
        // A whole archive: answered while it can be opened.
        HANDLE archive = OpenForReading(file);
        if (archive == INVALID_HANDLE_VALUE)
            return 0;
        d.whole_archive = true;
        d.title = FileNameOf(file);
        d.album = d.title;
        d.size = SizeBelow4GiB(archive);
        d.track_count = SameField(field, "formatinformation")
                            ? p.index_cache.TrackCount(p.plugin_directory, archive)
                            : 0;
        CloseHandle(archive);
        if (d.track_count < 0)
            return 0; // no index to count the tracks of
    }
    if (!Value(field, d, &text))
        return 0;
    return Answer(text.view(), out, out_size);
}
