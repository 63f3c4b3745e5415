#include "fuzz/fuzz_scratch.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

std::string MakeScratchDirectory() {
    // tmpfs first: every input is written once per run, so the disk stays out.
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string pattern = std::string(base) + "/kestrel-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()))
            return pattern + "/";
    }
    std::perror("fuzz: cannot make a scratch folder");
    std::abort();
}

std::string* scratch = nullptr;

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(*scratch, ignored);
}

} // namespace

const std::string& ScratchDirectory() {
    if (!scratch) {
        scratch = new std::string(MakeScratchDirectory());
        std::atexit(RemoveScratch);
    }
    return *scratch;
}

std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size) {
    std::string path = ScratchDirectory() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

void InvariantFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}
