#include "decoder/adpcm.h"

// The standard IMA ADPCM step sizes.
constexpr std::int32_t kStepTable[kStepTableSize] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

namespace {

// The step computed from the step size, once for each row and code: the
// magnitude is rounded down before the sign is applied, and the index moves
// up by 2 to 8 for codes with bit 2 set, down by 1 otherwise, within 0 to 88.
constexpr AdpcmStep StepFrom(int row, std::int32_t code) {
    const std::int32_t step_index = row == 0 ? 0 : row - 1;
    const std::int32_t step = row == 0 ? 0 : kStepTable[step_index];
    std::int32_t delta = ((code & 7) * 2 + 1) * step / 8;
    if (code & 8)
        delta = -delta;
    const std::int32_t next_index =
        std::clamp(step_index + ((code & 4) ? (code & 3) * 2 + 2 : -1), 0, kStepTableSize - 1);
    return AdpcmStep{delta, next_index + 1};
}

constexpr AdpcmStepRows BuildSteps() {
    AdpcmStepRows rows{};
    for (int row = 0; row < kAdpcmRows; ++row)
        for (int code = 0; code < kAdpcmCodes; ++code)
            rows[row][code] = StepFrom(row, code);
    return rows;
}

} // namespace

constexpr AdpcmStepRows kAdpcmSteps = BuildSteps();
