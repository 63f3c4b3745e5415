// The 4-bit IMA ADPCM decoder step.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

constexpr int kStepTableSize = 89;
extern const std::int32_t kStepTable[kStepTableSize];

// The decoder state as a track's decoding leaves it and a seek checkpoint
// keeps it.
struct AdpcmState {
    std::int32_t step_index = 0; // 0 to 88
    std::int32_t sample = 0;     // -32768 to 32767
    // The step size the next code uses: the table's for step_index, or 0 in
    // the state a rewind leaves (all three 0), where no code moves the sample.
    std::int32_t step = 0;

    bool operator==(const AdpcmState&) const = default;
};

// What one code does from one row of the step tables: the signed change of
// the sample, and the row the next code starts from.
struct AdpcmStep {
    std::int32_t delta;
    std::int32_t next_row;
};

// Row 0 is the state a rewind leaves, with its step of 0; row i + 1 is step
// index i with its step size. Every clamp of the step index is in the table.
constexpr int kAdpcmRows = kStepTableSize + 1;
constexpr int kAdpcmCodes = 16;
using AdpcmStepRows = std::array<std::array<AdpcmStep, kAdpcmCodes>, kAdpcmRows>;
extern const AdpcmStepRows kAdpcmSteps;

// The ADPCM step over a state held as a table row and a sample. The work is
// the same for every code, two loads, an add and a clamp, so music that
// sounds like noise decodes as fast as a tone; the outcome is exactly that of
// the step computed from the step size.
class AdpcmDecoder {
public:
    // The state a rewind leaves.
    AdpcmDecoder() = default;
    // `state` is one the decoder can reach: its step is the table's for its
    // index, or it is the state a rewind leaves. An index out of range is
    // taken as the nearest in range, so that no state reads past the tables.
    explicit AdpcmDecoder(const AdpcmState& state)
        : row_(state.step == 0 ? 0 : std::clamp(state.step_index, 0, kStepTableSize - 1) + 1),
          sample_(state.sample) {}

    // One step on a 4-bit code (higher bits are ignored); returns the new
    // sample. Inline: it is the whole of the decoder's inner loop.
    std::int32_t DecodeNibble(std::uint32_t code) {
        const AdpcmStep& step = kAdpcmSteps[row_][code & (kAdpcmCodes - 1)];
        sample_ = std::clamp(sample_ + step.delta, std::int32_t{-32768}, std::int32_t{32767});
        row_ = step.next_row;
        return sample_;
    }

    std::int32_t sample() const { return sample_; }
    AdpcmState state() const {
        if (row_ == 0)
            return AdpcmState{0, sample_, 0};
        return AdpcmState{row_ - 1, sample_, kStepTable[row_ - 1]};
    }

private:
    std::int32_t row_ = 0;
    std::int32_t sample_ = 0;
};
