#include "core/extended_read.h"
#include "core/archive_source.h"
#include "core/player_state.h"
#include "decoder/track_decoder.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>

static_assert(kBlockFrames * 2 == kPlaybackBlockBytes, "playback's blocks of 16-bit mono");

namespace {

// Work done between two looks at the kill switch: four blocks.
constexpr int kStepBytes = 4 * kPlaybackBlockBytes;

struct ExtendedRead {
    HANDLE file = INVALID_HANDLE_VALUE;
    ArchiveSource source;
    TrackDecoder decoder;
    int rate = 0;
    int length = 0;    // PCM bytes the track gives, a multiple of 4
    int delivered = 0; // of those, handed out or passed by a seek
    // A read for fewer than 4 bytes gets part of one sample pair; the rest
    // waits here for the next.
    char pair[4] = {};
    int pair_left = 0;

    ~ExtendedRead() {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

ExtendedRead* Of(std::intptr_t handle) {
    return reinterpret_cast<ExtendedRead*>(handle);
}

bool Killed(int* killswitch) {
    return killswitch && std::atomic_ref<int>(*killswitch).load(std::memory_order_relaxed) != 0;
}

} // namespace

std::intptr_t ExtendedReadOpen(PlayerState& player, const char* file, int* size, int* bps, int* nch,
                               int* srate) {
    // A whole archive is many tracks, at several rates: the converter wants
    // one stream at one rate, so only a track entry opens.
    TrackFacts facts;
    HANDLE archive = INVALID_HANDLE_VALUE;
    if (!player.LookUpTrack(file, &facts, &archive))
        return 0;
    // A header claiming more than an int of PCM cannot be counted out.
    if (PlayedPcmBytes(facts.header.output_size) > INT_MAX) {
        CloseHandle(archive);
        return 0;
    }
    auto* read = new (std::nothrow) ExtendedRead;
    if (!read) {
        CloseHandle(archive);
        return 0;
    }
    read->file = archive;
    read->source.Open(archive);
    read->decoder.Attach(&read->source, facts.record.offset);
    read->rate = facts.header.sample_rate;
    // What playback would hand the output: whole blocks up to the header's
    // length, or less where the chunks end sooner. Counting it walks the
    // chunks once without decoding, so that *size is exact.
    read->length =
        read->decoder.Measure(static_cast<int>(PlayedPcmBytes(facts.header.output_size)));
    if (size)
        *size = read->length;
    if (bps)
        *bps = 16;
    if (nch)
        *nch = 1;
    if (srate)
        *srate = read->rate;
    return reinterpret_cast<std::intptr_t>(read);
}

int ExtendedReadData(std::intptr_t handle, char* dest, int len, int* killswitch) {
    ExtendedRead* read = Of(handle);
    if (!read || !dest || len <= 0)
        return 0;
    int written = 0;
    while (written < len && !Killed(killswitch)) {
        if (read->pair_left > 0) {
            const int take = std::min(read->pair_left, len - written);
            std::memcpy(dest + written, read->pair + (4 - read->pair_left), take);
            read->pair_left -= take;
            written += take;
            continue;
        }
        const int left = read->length - read->delivered;
        if (left <= 0)
            break;
        // The decoder writes whole sample pairs: a request that ends inside
        // one decodes it aside.
        const int want = std::min({len - written, left, kStepBytes}) & ~3;
        if (want == 0) {
            if (read->decoder.Read(read->pair, 4) < 4) {
                read->length = read->delivered; // the chunks ended early
                break;
            }
            read->delivered += 4;
            read->pair_left = 4;
            continue;
        }
        const int got = read->decoder.Read(dest + written, want);
        written += got;
        read->delivered += got;
        if (got < want) {
            read->length = read->delivered;
            break;
        }
    }
    return written;
}

int ExtendedReadSeek(std::intptr_t handle, int ms) {
    ExtendedRead* read = Of(handle);
    if (!read)
        return 0;
    std::int64_t byte = std::int64_t{std::max(ms, 0)} * read->rate / 1000 * 2;
    byte = std::min<std::int64_t>(byte - byte % 4, read->length);
    const int target = static_cast<int>(byte);
    read->decoder.Seek(target, target < read->decoder.position());
    read->delivered = std::min(read->decoder.position(), read->length);
    read->pair_left = 0;
    return 1;
}

void ExtendedReadClose(std::intptr_t handle) {
    delete Of(handle);
}
