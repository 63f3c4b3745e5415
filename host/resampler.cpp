#include "host/resampler.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMaxStepRatio = 256; // what one libsamplerate converter takes
constexpr long kOutFrames = 4096;     // produced per call of the library

} // namespace

Resampler::Resampler(int channels, double ratio) : channels_(channels) {
    if (channels <= 0 || !(ratio > 0)) {
        error_ = "bad channel count or ratio";
        return;
    }
    const double span = std::fabs(std::log(ratio));
    const int steps = std::max(1, static_cast<int>(std::ceil(span / std::log(kMaxStepRatio))));
    stage_ratio_ = std::pow(ratio, 1.0 / steps);
    for (int i = 0; i < steps; ++i) {
        int error = 0;
        SRC_STATE* state = src_new(SRC_SINC_MEDIUM_QUALITY, channels, &error);
        if (!state) {
            error_ = src_strerror(error);
            return;
        }
        stages_.push_back(state);
    }
}

Resampler::~Resampler() {
    for (SRC_STATE* state : stages_)
        src_delete(state);
}

void Resampler::Process(const float* in, long frames, bool last, std::vector<float>* out) {
    if (Ok())
        Step(0, in, frames, last, out);
}

void Resampler::Step(std::size_t index, const float* in, long frames, bool last,
                     std::vector<float>* out) {
    const bool final_stage = index + 1 == stages_.size();
    std::vector<float> between;
    std::vector<float>* target = final_stage ? out : &between;
    SRC_DATA data{};
    data.data_in = in;
    data.input_frames = frames;
    data.end_of_input = last ? 1 : 0;
    data.src_ratio = stage_ratio_;
    for (;;) {
        const std::size_t at = target->size();
        target->resize(at + static_cast<std::size_t>(kOutFrames * channels_));
        data.data_out = target->data() + at;
        data.output_frames = kOutFrames;
        if (int error = src_process(stages_[index], &data)) {
            target->resize(at);
            error_ = src_strerror(error);
            return;
        }
        target->resize(at + static_cast<std::size_t>(data.output_frames_gen * channels_));
        data.data_in += data.input_frames_used * channels_;
        data.input_frames -= data.input_frames_used;
        // Done when nothing moves any more (at the end: the filter is empty),
        // or, before the end, once the input is used up.
        if (data.input_frames_used == 0 && data.output_frames_gen == 0)
            break;
        if (data.input_frames == 0 && !last)
            break;
    }
    if (!final_stage)
        Step(index + 1, between.data(), static_cast<long>(between.size() / channels_), last, out);
}
