// IMA ADPCM encoding by search: each sample gets the code that, run through
// the plug-in's own decoder step, lands nearest to it.
#pragma once

#include "decoder/adpcm.h"

#include <cstdint>
#include <vector>

class AdpcmEncoder {
public:
    // Picks the code for the next sample and advances the decoder copy by it.
    std::uint8_t EncodeSample(std::int16_t target);
    // What the decoder gives for the last code picked.
    std::int16_t LastDecoded() const { return static_cast<std::int16_t>(decoder_.sample()); }

private:
    // The decoder starts every track from a rewind.
    AdpcmDecoder decoder_;
};

struct EncodedTrack {
    std::vector<std::uint8_t> bytes;   // TrackHeader and chunks, as stored in the archive
    std::vector<std::int16_t> decoded; // what the decoder will give, pad sample included
};

// Bytes in the archive of a track of this many samples: header and chunks.
std::uint64_t TrackBytesFor(std::uint64_t sample_count);

// Encodes mono samples at `sample_rate` into a whole track. An odd sample
// count gets one pad sample repeating the last one.
EncodedTrack EncodeTrack(const std::vector<std::int16_t>& samples, std::uint16_t sample_rate);
