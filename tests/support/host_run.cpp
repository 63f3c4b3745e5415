#include "support/host_run.h"

#include "tools/mixlib/wav_file.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>

namespace hosttest {

namespace {

void Check(bool ok, const std::string& what) {
    if (!ok)
        throw std::runtime_error(what);
}

// Parses one flat JSON object as the host writes it.
Event ParseLine(const std::string& line) {
    Event event;
    std::size_t at = 0;
    auto skip = [&] {
        while (at < line.size() && (line[at] == ' ' || line[at] == ',' || line[at] == '{'))
            ++at;
    };
    auto string = [&] {
        Check(line[at] == '"', "string expected in " + line);
        std::string out;
        for (++at; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] != '\\') {
                out += line[at];
                continue;
            }
            char c = line[++at];
            if (c == 'n')
                out += '\n';
            else if (c == 'r')
                out += '\r';
            else if (c == 't')
                out += '\t';
            else if (c == 'u') {
                out += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
                at += 4;
            } else
                out += c;
        }
        ++at;
        return out;
    };
    for (skip(); at < line.size() && line[at] != '}'; skip()) {
        std::string key = string();
        Check(line[at] == ':', "colon expected in " + line);
        ++at;
        std::string value;
        if (line[at] == '"') {
            value = string();
        } else {
            while (at < line.size() && line[at] != ',' && line[at] != '}')
                value += line[at++];
        }
        event.fields[key] = value;
    }
    return event;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

} // namespace

std::string BuildDir() {
    const char* dir = std::getenv("KESTREL_BUILD_DIR");
    Check(dir != nullptr, "KESTREL_BUILD_DIR is not set");
    return dir;
}

const std::string& Event::Name() const {
    return Str("ev");
}

const std::string& Event::Str(const std::string& key) const {
    auto found = fields.find(key);
    Check(found != fields.end(), "event has no " + key);
    return found->second;
}

std::int64_t Event::Int(const std::string& key) const {
    return std::stoll(Str(key));
}

double Event::Num(const std::string& key) const {
    return std::stod(Str(key));
}

std::vector<Event> ReadEvents(const std::string& path) {
    std::ifstream in(path);
    Check(in.good(), "cannot read " + path);
    std::vector<Event> events;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            events.push_back(ParseLine(line));
    return events;
}

std::vector<Event> Named(const std::vector<Event>& events, const std::string& name) {
    std::vector<Event> found;
    for (const Event& event : events)
        if (event.Name() == name)
            found.push_back(event);
    return found;
}

int RunCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::int16_t> ReadSamples(const std::string& path) {
    return ReadWav(path).samples;
}

PluginFolder::PluginFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-play-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder");
    dir_ = pattern + "/";
    std::filesystem::copy_file(BuildDir() + "/core/in_kestrel.so", Plugin());
}

PluginFolder::~PluginFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string PluginFolder::Plugin() const {
    return dir_ + "in_kestrel.so";
}

void PluginFolder::Build(const std::string& archive, const std::string& known,
                         const std::vector<std::string>& tracks) const {
    std::string command = Quote(BuildDir() + "/tools/mixtool") + " build --known " + known +
                          " --index-dir " + Quote(dir_) + " -o " + Quote(Path(archive));
    for (const std::string& track : tracks)
        command += " " + Quote(track);
    Check(RunCommand(command + " >/dev/null") == 0, "mixtool build failed: " + command);
}

std::vector<std::int16_t> PluginFolder::Extract(const std::string& archive, int number) const {
    std::string out = Path(archive + "." + std::to_string(number) + ".wav");
    std::string command = Quote(BuildDir() + "/tools/mixtool") + " extract --index-dir " +
                          Quote(dir_) + " " + Quote(Path(archive)) + " --track " +
                          std::to_string(number) + " -o " + Quote(out);
    Check(RunCommand(command + " >/dev/null") == 0, "mixtool extract failed: " + command);
    return ReadSamples(out);
}

std::string PluginFolder::MakeTrack(const std::string& name, int rate, double seconds) const {
    const std::size_t count = static_cast<std::size_t>(std::lround(rate * seconds));
    std::vector<std::int16_t> samples(count);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / rate;
        double sweep = std::sin(2 * M_PI * (200 * t + 15 * t * t));
        noise = noise * 1664525u + 1013904223u;
        double hiss = static_cast<double>(noise >> 16) / 65536.0 - 0.5;
        samples[i] = static_cast<std::int16_t>(std::lround(9000 * sweep + 3000 * hiss));
    }
    std::string path = Path(name + ".wav");
    WriteWav(path, samples, static_cast<std::uint32_t>(rate));
    return path;
}

int PluginFolder::Play(const std::string& arguments, const std::string& tag) const {
    std::string command = Quote(BuildDir() + "/host/kestrel-play") + " --plugin " +
                          Quote(Plugin()) + " --events " + Quote(Path(tag + ".jsonl")) + " --pcm " +
                          Quote(Path(tag + ".pcm")) + " " + arguments;
    return RunCommand("cd " + Quote(dir_) + " && " + command + " >/dev/null 2>&1");
}

std::vector<Event> PluginFolder::Events(const std::string& tag) const {
    return ReadEvents(Path(tag + ".jsonl"));
}

std::vector<std::int16_t> PluginFolder::Heard(const std::string& tag) const {
    std::ifstream in(Path(tag + ".pcm"), std::ios::binary);
    Check(in.good(), "cannot read " + Path(tag + ".pcm"));
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

} // namespace hosttest
