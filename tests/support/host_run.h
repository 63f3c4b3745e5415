// Running the headless host and the archive tool as programs, and reading
// back what they leave: the event log (JSON lines) and WAV files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hosttest {

// The build folder the tests run against (KESTREL_BUILD_DIR).
std::string BuildDir();

// One line of the event log: its fields, strings unescaped and numbers
// as they were written.
struct Event {
    std::map<std::string, std::string> fields;
    const std::string& Name() const;
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    const std::string& Str(const std::string& key) const;
    std::int64_t Int(const std::string& key) const;
    double Num(const std::string& key) const;
    bool Bool(const std::string& key) const { return Str(key) == "true"; }
};

std::vector<Event> ReadEvents(const std::string& path);
// The events named `name`, in order.
std::vector<Event> Named(const std::vector<Event>& events, const std::string& name);

// Runs a command line through the shell; returns its exit status.
int RunCommand(const std::string& command);

// Samples of a 16-bit mono WAV file.
std::vector<std::int16_t> ReadSamples(const std::string& path);

// A scratch folder set up as the media player's plug-in folder: a copy of
// the plug-in, with the index files of the archives built there.
class PluginFolder {
public:
    PluginFolder();
    ~PluginFolder();
    PluginFolder(const PluginFolder&) = delete;
    PluginFolder& operator=(const PluginFolder&) = delete;

    const std::string& Dir() const { return dir_; } // ends in '/'
    std::string Path(const std::string& name) const { return dir_ + name; }
    std::string Plugin() const;

    // mixtool build into this folder; throws on failure.
    void Build(const std::string& archive, const std::string& known,
               const std::vector<std::string>& tracks) const;
    // mixtool extract of track `number` (from 1), as samples.
    std::vector<std::int16_t> Extract(const std::string& archive, int number) const;
    // A WAV track of `seconds` at `rate` whose every stretch differs from
    // every other (a sweep with noise), so that audio from a wrong place
    // cannot pass for the right one. Returns its path.
    std::string MakeTrack(const std::string& name, int rate, double seconds) const;

    // kestrel-play with these arguments (the plug-in of this folder,
    // --events and --pcm into this folder); returns its exit status.
    int Play(const std::string& arguments, const std::string& tag) const;
    std::vector<Event> Events(const std::string& tag) const;
    // The samples heard, exactly as the plug-in wrote them.
    std::vector<std::int16_t> Heard(const std::string& tag) const;

private:
    std::string dir_;
};

} // namespace hosttest
