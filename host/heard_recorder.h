// What the output device played, kept two ways:
// - the PCM file: every byte heard exactly as the plug-in wrote it, in order,
//   without a header (what tests compare with extractions);
// - the WAV file: what the listener heard, every stretch at its own speed and
//   pitch. Tracks come at their own rates, so the file is written at the
//   highest rate heard, 16 bits, with as many channels as the widest audio,
//   and each stretch at another rate is resampled to it when the run ends; a
//   stretch already in the file's format is copied unchanged.
// The heard bytes are kept in the PCM file (or, without one, in a scratch
// file beside the WAV file that goes once the WAV file is written).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class HeardRecorder {
public:
    HeardRecorder() = default;
    ~HeardRecorder();
    HeardRecorder(const HeardRecorder&) = delete;
    HeardRecorder& operator=(const HeardRecorder&) = delete;

    // Either path may be empty. False, with the reason, if a file cannot be
    // made.
    bool Open(const std::string& wav_path, const std::string& pcm_path, std::string* error);
    // Appends heard audio of the given format.
    void Append(const char* bytes, int count, int sample_rate, int channels, int bits);
    // Writes the WAV file and closes everything; false, with the reason, if
    // a file could not be written.
    bool Close(std::string* error);

private:
    // A stretch of heard audio of one format, in order.
    struct Run {
        int sample_rate = 0;
        int channels = 0;
        int bits = 0;
        std::int64_t bytes = 0;
    };

    bool WriteWav(std::string* error);
    // One run, from the heard bytes at the read position, appended to the WAV
    // file in its format: copied as it is, or converted.
    bool CopyRun(const Run& run, std::FILE* wav, std::int64_t* data_bytes, std::string* error);
    bool ConvertRun(const Run& run, std::FILE* wav, std::int64_t* data_bytes, std::string* error);

    std::string wav_path_;
    std::string heard_path_;
    bool heard_is_scratch_ = false;
    std::FILE* heard_ = nullptr;
    bool write_failed_ = false;
    std::vector<Run> runs_;
    int wav_rate_ = 0;
    int wav_channels_ = 0;
};
