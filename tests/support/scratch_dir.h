// A fresh directory under the system's temporary folder for one test's
// files, removed with everything in it when the test is done.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace handmade {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The directory, ending in a separator, as the player's plugin_directory takes it.
    const std::string& Dir() const { return dir_; }
    // The directory as a path, without the separator at its end.
    const std::filesystem::path& Path() const { return path_; }
    // A path inside the directory.
    std::string Path(const std::string& name) const { return dir_ + name; }
    std::string operator/(const std::string& name) const { return dir_ + name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> Entries() const;

private:
    std::string dir_;
    std::filesystem::path path_;
};

// Writes `bytes` as the whole content of `path`.
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Makes `path` a file of exactly `size` bytes without writing them (sparse),
// keeping whatever it already held below that size.
void SetFileLength(const std::string& path, std::uint64_t size);

// Writes `bytes` into `path` at byte position `at`, creating the file if needed.
void WriteBytesAt(const std::string& path, std::uint64_t at,
                  const std::vector<std::uint8_t>& bytes);

} // namespace handmade
