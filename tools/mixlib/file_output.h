// Writing files so that a failure never leaves a half-written one behind.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// A path as std::filesystem takes it. The tools accept the plug-in's paths,
// which may use backslashes; Windows takes either separator, a POSIX file
// system only the slash.
std::filesystem::path FileSystemPath(const std::string& path);

// A file written under a temporary name beside its final path. Commit
// renames it into place; until then the destructor removes it.
class PendingFile {
public:
    explicit PendingFile(const std::string& final_path);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::filesystem::path& TempPath() const { return temp_; }
    const std::filesystem::path& FinalPath() const { return final_; }
    void Commit();

private:
    std::filesystem::path final_;
    std::filesystem::path temp_;
    bool committed_ = false;
};

// Writes `bytes` bytes as the whole content of `path`, through a PendingFile.
void WriteWholeFile(const std::string& path, const void* data, std::size_t bytes);
