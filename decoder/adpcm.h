// The 4-bit IMA ADPCM decoder step.
#pragma once

#include <cstdint>

constexpr int kStepTableSize = 89;
extern const std::int32_t kStepTable[kStepTableSize];

struct AdpcmState {
    std::int32_t step_index = 0; // 0 to 88
    std::int32_t sample = 0;     // -32768 to 32767
    std::int32_t step = 0;       // step size the next code uses

    // One ADPCM step on a 4-bit code; returns the new sample. Inline: it is
    // the whole of the decoder's inner loop.
    std::int32_t DecodeNibble(std::uint32_t code) {
        std::int32_t delta = static_cast<std::int32_t>((code & 7) * 2 + 1) * step / 8;
        if (code & 8)
            delta = -delta;
        sample += delta;
        if (sample > 32767)
            sample = 32767;
        else if (sample < -32768)
            sample = -32768;
        if (code & 4)
            step_index += static_cast<std::int32_t>(code & 3) * 2 + 2;
        else
            step_index -= 1;
        if (step_index > 88)
            step_index = 88;
        else if (step_index < 0)
            step_index = 0;
        step = kStepTable[step_index];
        return sample;
    }
};
