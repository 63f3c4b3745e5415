// Checking a track's header.
#include "decoder/track_stream.h"
#include "decoder/byte_source.h"

bool ReadTrackHeader(ByteSource& source, std::uint64_t offset, TrackHeader* header) {
    const std::size_t got = source.ReadAt(offset, header, kTrackHeaderBytes);
    // A header cut short, or with a rate the time formulas cannot divide by,
    // is as bad as a wrong magic word.
    return got == static_cast<std::size_t>(kTrackHeaderBytes) &&
           header->magic == kTrackHeaderMagic && header->sample_rate >= kLowestSampleRate;
}
