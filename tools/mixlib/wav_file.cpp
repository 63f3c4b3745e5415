#include "tools/mixlib/wav_file.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::size_t kChunkHeadBytes = 8;
constexpr std::size_t kFmtBytes = 16;
constexpr std::size_t kFmtExtensibleBytes = 40;
constexpr std::size_t kSubFormatOffset = 24; // inside the extensible fmt chunk
constexpr std::size_t kWavHeaderBytes = 44;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

struct Format {
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
};

Format ParseFormat(const std::uint8_t* fmt, std::size_t size, const std::string& name) {
    if (size < kFmtBytes)
        throw MixError(name + ": malformed WAV format chunk");
    std::uint16_t tag = Le16(fmt);
    Format format{Le16(fmt + 2), Le32(fmt + 4)};
    std::uint16_t block_align = Le16(fmt + 12);
    std::uint16_t bits = Le16(fmt + 14);
    // WAVE_FORMAT_EXTENSIBLE carries the real format tag at the start of its GUID.
    if (tag == kFormatExtensible && size >= kFmtExtensibleBytes)
        tag = Le16(fmt + kSubFormatOffset);
    if (tag != kFormatPcm || bits != 16)
        throw MixError(name + ": only 16-bit PCM WAV files are supported");
    if (format.channels != 1 && format.channels != 2)
        throw MixError(name + ": only mono or stereo WAV files are supported (this one has " +
                       std::to_string(format.channels) + " channels)");
    if (block_align != format.channels * 2)
        throw MixError(name + ": malformed WAV format chunk");
    if (format.sample_rate == 0)
        throw MixError(name + ": WAV sample rate is 0");
    return format;
}

} // namespace

WavAudio ParseWav(const std::vector<std::uint8_t>& image, const std::string& name) {
    if (image.size() < kRiffHeaderBytes || std::memcmp(image.data(), "RIFF", 4) != 0 ||
        std::memcmp(image.data() + 8, "WAVE", 4) != 0)
        throw MixError(name + ": not a WAV file");
    // Chunks are looked for inside the RIFF size (trailing bytes after it are
    // not part of the WAV), but only the file's own end can cut one short.
    std::size_t end = image.size();
    std::uint64_t riff_end = static_cast<std::uint64_t>(Le32(image.data() + 4)) + 8;
    if (riff_end < end)
        end = static_cast<std::size_t>(riff_end);

    bool have_format = false;
    Format format;
    std::size_t position = kRiffHeaderBytes;
    while (position + kChunkHeadBytes <= end) {
        const std::uint8_t* head = image.data() + position;
        std::uint64_t size = Le32(head + 4);
        std::size_t body = position + kChunkHeadBytes;
        if (size > image.size() - body)
            throw MixError(name + ": WAV file is cut short");
        if (std::memcmp(head, "fmt ", 4) == 0) {
            format = ParseFormat(image.data() + body, static_cast<std::size_t>(size), name);
            have_format = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!have_format)
                throw MixError(name + ": WAV data comes before its format chunk");
            std::size_t frame = format.channels * 2u;
            if (size % frame != 0)
                throw MixError(name + ": WAV data is not a whole number of sample frames");
            WavAudio audio;
            audio.sample_rate = format.sample_rate;
            std::size_t frames = static_cast<std::size_t>(size) / frame;
            audio.samples.resize(frames);
            const std::uint8_t* data = image.data() + body;
            for (std::size_t i = 0; i < frames; ++i) {
                std::int32_t left = static_cast<std::int16_t>(Le16(data + i * frame));
                if (format.channels == 2) {
                    std::int32_t right = static_cast<std::int16_t>(Le16(data + i * frame + 2));
                    left = (left + right) / 2;
                }
                audio.samples[i] = static_cast<std::int16_t>(left);
            }
            return audio;
        }
        // Chunks are padded to an even length.
        position = body + static_cast<std::size_t>(size) + (size & 1);
    }
    throw MixError(
        name + (have_format ? ": WAV file has no data chunk" : ": WAV file has no format chunk"));
}

WavAudio ReadWav(const std::string& path) {
    std::ifstream in(FileSystemPath(path), std::ios::binary);
    if (!in)
        throw MixError("cannot open " + path);
    std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad())
        throw MixError("cannot read " + path);
    return ParseWav(image, path);
}

std::vector<std::uint8_t> WavHeader(std::uint64_t data_bytes, std::uint32_t sample_rate) {
    if (data_bytes > 0xFFFFFFFFull - (kWavHeaderBytes - 8))
        throw MixError("too much audio for one WAV file");
    std::vector<std::uint8_t> out;
    out.reserve(kWavHeaderBytes);
    PutTag(out, "RIFF");
    Put32(out, static_cast<std::uint32_t>(kWavHeaderBytes - 8 + data_bytes));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, kFmtBytes);
    Put16(out, kFormatPcm);
    Put16(out, 1); // channels
    Put32(out, sample_rate);
    Put32(out, sample_rate * 2); // bytes per second
    Put16(out, 2);               // block align
    Put16(out, 16);              // bits per sample
    PutTag(out, "data");
    Put32(out, static_cast<std::uint32_t>(data_bytes));
    return out;
}

std::vector<std::uint8_t> MakeWav(const std::vector<std::int16_t>& samples,
                                  std::uint32_t sample_rate) {
    std::vector<std::uint8_t> out =
        WavHeader(static_cast<std::uint64_t>(samples.size()) * 2, sample_rate);
    out.reserve(kWavHeaderBytes + samples.size() * 2);
    for (std::int16_t sample : samples)
        Put16(out, static_cast<std::uint16_t>(sample));
    return out;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples,
              std::uint32_t sample_rate) {
    std::vector<std::uint8_t> image = MakeWav(samples, sample_rate);
    WriteWholeFile(path, image.data(), image.size());
}
