// The bare ADPCM step over a track's codes in memory, a playback block at a
// time: the most any decoder of those codes could reach. Both the benchmark
// and the stand-alone loop that `mixtool extract` is measured against run it.
#pragma once

#include "decoder/adpcm.h"

#include <cstdint>
#include <vector>

// Decodes `codes` (low nibble first) into `block` from its start again each
// time it is full, and calls `full()` then, so that the stores are kept.
template <typename OnFull>
void DecodeCodesInBlocks(const std::vector<std::uint8_t>& codes, std::vector<std::int16_t>& block,
                         OnFull full) {
    AdpcmDecoder adpcm; // as a rewind leaves it
    std::size_t out = 0;
    for (std::uint8_t b : codes) {
        block[out] = static_cast<std::int16_t>(adpcm.DecodeNibble(b & 0x0F));
        block[out + 1] = static_cast<std::int16_t>(adpcm.DecodeNibble(b >> 4));
        out += 2;
        if (out == block.size()) {
            full();
            out = 0;
        }
    }
}
