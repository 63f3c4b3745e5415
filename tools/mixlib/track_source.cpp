#include "tools/mixlib/track_source.h"
#include "decoder/track_stream.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/tone.h"
#include "tools/mixlib/wav_file.h"

TrackSource LoadTrackSource(const std::string& argument) {
    if (IsToneArgument(argument)) {
        Tone tone = ParseTone(argument);
        return TrackSource{tone.title, tone.sample_rate, MakeTone(tone)};
    }
    WavAudio audio = ReadWav(argument);
    if (audio.sample_rate < kLowestSampleRate || audio.sample_rate > 0xFFFF)
        throw MixError(argument + ": sample rate " + std::to_string(audio.sample_rate) +
                       " Hz is outside the " + std::to_string(kLowestSampleRate) +
                       " to 65535 Hz an archive can hold");
    if (audio.samples.empty())
        throw MixError(argument + ": WAV file holds no audio");
    return TrackSource{FileSystemPath(argument).stem().string(),
                       static_cast<std::uint16_t>(audio.sample_rate), std::move(audio.samples)};
}
