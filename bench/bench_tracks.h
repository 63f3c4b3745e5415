// The tracks the decoding benchmarks run on, three kinds of ADPCM codes: a
// tone, whose codes repeat in short patterns; random codes, which no branch
// predictor can guess; and music-like codes, the project's encoder run over
// chords with noise.
#pragma once

#include "catalogue/known_archives.h"
#include "decoder/byte_source.h"
#include "tools/mixlib/index_writer.h"

#include <cstdint>
#include <string>
#include <vector>

enum class CodeKind { kTone, kRandom, kMusic };

// "tone", "random", "music".
const char* CodeKindName(CodeKind kind);
// False for any other name.
bool ParseCodeKind(const std::string& name, CodeKind* kind);

// An archive of the size of `known` at `archive_path`, its index in
// `index_dir`, holding one track of `seconds` at `sample_rate` of the given
// kind; returns the track's entry in the index. Throws MixError or
// std::runtime_error.
IndexEntry BuildBenchArchive(CodeKind kind, const std::string& archive_path,
                             const KnownArchive& known, const std::string& index_dir,
                             std::uint16_t sample_rate, double seconds);

// The data of a track's chunks, one after another, from the track header at
// `track_offset` up to the first chunk the decoder would stop at.
std::vector<std::uint8_t> TrackCodes(ByteSource& source, std::uint64_t track_offset);
