#include "host/heard_recorder.h"

#include "host/resampler.h"
#include "host/wav_header.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kDefaultRate = 22050;          // for a file that heard nothing
constexpr std::int64_t kChunkFrames = 16384; // read from the heard bytes at a time
constexpr char kScratchSuffix[] = ".heard";

// Appends to the WAV file's data what still fits in a WAV file.
bool PutData(std::FILE* wav, const void* bytes, std::int64_t count, std::int64_t* data_bytes) {
    count = std::min(count, kWavMaxDataBytes - *data_bytes);
    if (count <= 0)
        return true;
    *data_bytes += count;
    return std::fwrite(bytes, 1, static_cast<std::size_t>(count), wav) ==
           static_cast<std::size_t>(count);
}

// One sample of 8-bit (unsigned) or 16-bit (signed, little-endian) PCM.
float SampleAt(const unsigned char* at, int bits) {
    if (bits == 8)
        return (static_cast<float>(at[0]) - 128.0f) / 128.0f;
    return static_cast<float>(static_cast<std::int16_t>(at[0] | at[1] << 8)) / 32768.0f;
}

void PutSample(float value, std::vector<std::uint8_t>* out) {
    const long scaled = std::lrint(static_cast<double>(value) * 32768.0);
    const std::uint16_t sample = static_cast<std::uint16_t>(std::clamp(scaled, -32768L, 32767L));
    out->push_back(static_cast<std::uint8_t>(sample));
    out->push_back(static_cast<std::uint8_t>(sample >> 8));
}

} // namespace

HeardRecorder::~HeardRecorder() {
    std::string ignored;
    Close(&ignored);
}

bool HeardRecorder::Open(const std::string& wav_path, const std::string& pcm_path,
                         std::string* error) {
    wav_path_ = wav_path;
    heard_is_scratch_ = pcm_path.empty();
    heard_path_ = heard_is_scratch_ && !wav_path.empty() ? wav_path + kScratchSuffix : pcm_path;
    if (!wav_path_.empty()) {
        // Made now, so that a path that cannot be written fails the run at
        // once; written when the run ends.
        std::FILE* wav = std::fopen(wav_path_.c_str(), "wb");
        if (!wav) {
            *error = "cannot write " + wav_path_;
            return false;
        }
        std::fclose(wav);
    }
    if (!heard_path_.empty() && !(heard_ = std::fopen(heard_path_.c_str(), "w+b"))) {
        *error = "cannot write " + heard_path_;
        return false;
    }
    return true;
}

void HeardRecorder::Append(const char* bytes, int count, int sample_rate, int channels, int bits) {
    if (!heard_ || count <= 0)
        return;
    if (std::fwrite(bytes, 1, static_cast<std::size_t>(count), heard_) !=
        static_cast<std::size_t>(count))
        write_failed_ = true;
    if (runs_.empty() || runs_.back().sample_rate != sample_rate ||
        runs_.back().channels != channels || runs_.back().bits != bits)
        runs_.push_back({sample_rate, channels, bits, 0});
    runs_.back().bytes += count;
}

bool HeardRecorder::Close(std::string* error) {
    if (!heard_)
        return true;
    bool ok = !write_failed_ && std::fflush(heard_) == 0;
    if (!ok)
        *error = "cannot write " + heard_path_;
    if (ok && !wav_path_.empty())
        ok = WriteWav(error);
    std::fclose(heard_);
    heard_ = nullptr;
    if (heard_is_scratch_)
        std::remove(heard_path_.c_str());
    runs_.clear();
    return ok;
}

bool HeardRecorder::WriteWav(std::string* error) {
    wav_rate_ = kDefaultRate;
    wav_channels_ = 1;
    if (!runs_.empty()) {
        wav_rate_ = std::max_element(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) {
                        return a.sample_rate < b.sample_rate;
                    })->sample_rate;
        wav_channels_ =
            std::max_element(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) {
                return a.channels < b.channels;
            })->channels;
    }
    std::FILE* wav = std::fopen(wav_path_.c_str(), "wb");
    bool ok = wav && std::fseek(heard_, 0, SEEK_SET) == 0 &&
              WriteWavHeader(wav, wav_rate_, wav_channels_, 0);
    std::int64_t data_bytes = 0;
    for (const Run& run : runs_) {
        if (!ok)
            break;
        const bool same =
            run.sample_rate == wav_rate_ && run.channels == wav_channels_ && run.bits == kWavBits;
        ok =
            same ? CopyRun(run, wav, &data_bytes, error) : ConvertRun(run, wav, &data_bytes, error);
    }
    ok = ok && WriteWavHeader(wav, wav_rate_, wav_channels_, data_bytes);
    if (wav && std::fclose(wav) != 0)
        ok = false;
    if (!ok && error->empty())
        *error = "cannot write " + wav_path_;
    return ok;
}

bool HeardRecorder::CopyRun(const Run& run, std::FILE* wav, std::int64_t* data_bytes,
                            std::string* error) {
    std::vector<char> buffer(static_cast<std::size_t>(kChunkFrames * 4));
    for (std::int64_t left = run.bytes; left > 0;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, want, heard_) != want) {
            *error = "cannot read back " + heard_path_;
            return false;
        }
        if (!PutData(wav, buffer.data(), static_cast<std::int64_t>(want), data_bytes))
            return false;
        left -= static_cast<std::int64_t>(want);
    }
    return true;
}

bool HeardRecorder::ConvertRun(const Run& run, std::FILE* wav, std::int64_t* data_bytes,
                               std::string* error) {
    const int in_frame = run.channels * run.bits / 8;
    const std::int64_t frames = in_frame > 0 ? run.bytes / in_frame : 0;
    // The run lasts as long in the file as it did when heard, to the frame.
    const std::int64_t target =
        (frames * wav_rate_ * 2 + run.sample_rate) / (2 * std::int64_t{run.sample_rate});
    const bool resample = run.sample_rate != wav_rate_;
    Resampler resampler(wav_channels_, static_cast<double>(wav_rate_) / run.sample_rate);
    if (resample && !resampler.Ok()) {
        *error = std::string("cannot resample: ") + resampler.Error();
        return false;
    }

    std::vector<unsigned char> raw(static_cast<std::size_t>(kChunkFrames * in_frame));
    std::vector<float> in;
    std::vector<float> out;
    std::vector<std::uint8_t> pcm;
    std::int64_t written = 0;
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t count = std::min(kChunkFrames, frames - done);
        const std::size_t bytes = static_cast<std::size_t>(count * in_frame);
        if (std::fread(raw.data(), 1, bytes, heard_) != bytes) {
            *error = "cannot read back " + heard_path_;
            return false;
        }
        done += count;
        // Every channel of the file: a mono stretch on all of them, a wider
        // one's own channels, silence beyond them.
        in.clear();
        for (std::int64_t f = 0; f < count; ++f) {
            const unsigned char* frame = raw.data() + f * in_frame;
            for (int c = 0; c < wav_channels_; ++c) {
                const int from = run.channels == 1 ? 0 : c;
                in.push_back(from < run.channels ? SampleAt(frame + from * run.bits / 8, run.bits)
                                                 : 0.0f);
            }
        }
        out.clear();
        if (resample) {
            resampler.Process(in.data(), static_cast<long>(count), done == frames, &out);
            if (!resampler.Ok()) {
                *error = std::string("cannot resample: ") + resampler.Error();
                return false;
            }
        } else {
            out.swap(in);
        }
        const std::int64_t produced = static_cast<std::int64_t>(out.size()) / wav_channels_;
        const std::int64_t keep = std::min(produced, target - written);
        pcm.clear();
        for (std::int64_t i = 0; i < keep * wav_channels_; ++i)
            PutSample(out[static_cast<std::size_t>(i)], &pcm);
        written += keep;
        if (!PutData(wav, pcm.data(), static_cast<std::int64_t>(pcm.size()), data_bytes))
            return false;
    }
    // A partial frame at the end of the run was never a sample.
    if (std::fseek(heard_, static_cast<long>(run.bytes - frames * in_frame), SEEK_CUR) != 0) {
        *error = "cannot read back " + heard_path_;
        return false;
    }
    // The filter's last few frames may fall short of the run's length.
    pcm.assign(static_cast<std::size_t>((target - written) * wav_channels_ * 2), 0);
    return PutData(wav, pcm.data(), static_cast<std::int64_t>(pcm.size()), data_bytes);
}
