#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"

#include <fstream>
#include <system_error>

std::filesystem::path FileSystemPath(const std::string& path) {
    std::string slashed = path;
    for (char& c : slashed)
        if (c == '\\')
            c = '/';
    return std::filesystem::path(slashed);
}

PendingFile::PendingFile(const std::string& final_path)
    : final_(FileSystemPath(final_path)), temp_(final_) {
    temp_ += ".partial";
}

PendingFile::~PendingFile() {
    if (!committed_) {
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
    }
}

void PendingFile::Commit() {
    std::error_code error;
    std::filesystem::rename(temp_, final_, error);
    if (error)
        throw MixError("cannot create " + final_.string() + ": " + error.message());
    committed_ = true;
}

void WriteWholeFile(const std::string& path, const void* data, std::size_t bytes) {
    PendingFile file(path);
    {
        std::ofstream out(file.TempPath(), std::ios::binary | std::ios::trunc);
        if (!out)
            throw MixError("cannot create " + file.FinalPath().string());
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
        out.close();
        if (!out)
            throw MixError("cannot write " + file.FinalPath().string());
    }
    file.Commit();
}
