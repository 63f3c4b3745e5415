// Helpers for the tests of mixlib and mixtool: scratch folders, running the
// built mixtool, and comparing audio.
#pragma once

#include "support/scratch_dir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mixtest {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
using ScratchDir = handmade::ScratchDir;

struct CommandResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// The mixtool built beside these tests ($KESTREL_BUILD_DIR/tools/mixtool).
std::string MixtoolPath();
// Runs `program` with `arguments` in folder `directory`, capturing both
// output streams (through files in `directory`).
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& directory);

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Signal-to-noise ratio in dB of `actual` against `expected` over the
// length of `expected`; a missing sample of `actual` counts as 0.
double SnrDb(const std::vector<std::int16_t>& expected, const std::vector<std::int16_t>& actual);

} // namespace mixtest
