#include "support/mix_fixtures.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <unistd.h>
#include <algorithm>
#include <sys/wait.h>

namespace mixtest {

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::string MixtoolPath() {
    const char* build = std::getenv("KESTREL_BUILD_DIR");
    if (!build)
        throw std::runtime_error("KESTREL_BUILD_DIR is not set; run the tests through ctest");
    return (std::filesystem::path(build) / "tools" / "mixtool").string();
}

CommandResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& directory) {
    const std::filesystem::path out = directory / ".command_out";
    const std::filesystem::path err = directory / ".command_err";
    std::string command = "cd " + ShellQuoted(directory.string()) + " && " + ShellQuoted(program);
    for (const std::string& argument : arguments)
        command += " " + ShellQuoted(argument);
    command += " >" + ShellQuoted(out.string()) + " 2>" + ShellQuoted(err.string()) + " </dev/null";
    int status = std::system(command.c_str());
    CommandResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadText(out);
    result.err = ReadText(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    std::vector<std::uint8_t> bytes(error ? 0 : static_cast<std::size_t>(size));
    if (!in || error ||
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

double SnrDb(const std::vector<std::int16_t>& expected, const std::vector<std::int16_t>& actual) {
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        double want = expected[i];
        double got = i < actual.size() ? actual[i] : 0.0;
        signal += want * want;
        noise += (want - got) * (want - got);
    }
    if (noise == 0)
        return std::numeric_limits<double>::infinity();
    return 10 * std::log10(signal / noise);
}

} // namespace mixtest
