#include "support/scratch_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <cstdlib>

namespace handmade {

namespace {

void Check(bool ok, const std::string& what) {
    if (!ok)
        throw std::runtime_error(what);
}

} // namespace

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
    path_ = pattern;
    dir_ = pattern + "/";
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> ScratchDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "cannot write " + path);
}

void SetFileLength(const std::string& path, std::uint64_t size) {
    if (!std::filesystem::exists(path))
        WriteBytes(path, {});
    std::filesystem::resize_file(path, size);
}

void WriteBytesAt(const std::string& path, std::uint64_t at,
                  const std::vector<std::uint8_t>& bytes) {
    if (!std::filesystem::exists(path))
        WriteBytes(path, {});
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out), "cannot write " + path);
}

} // namespace handmade
