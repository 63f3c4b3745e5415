// mixtool: builds Kestrel MIX archives with their track indexes from WAV
// files and tones, lists an archive's tracks, extracts them as WAV files
// decoded exactly as the player plays them, and writes playlists of them.
#include "tools/mixlib/archive_builder.h"
#include "tools/mixlib/archive_names.h"
#include "tools/mixlib/archive_reader.h"
#include "tools/mixlib/file_output.h"
#include "tools/mixlib/mix_error.h"
#include "tools/mixlib/track_extractor.h"
#include "tools/mixlib/track_playlist.h"
#include "tools/mixlib/track_source.h"
#include "tools/mixlib/wav_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr char kDefaultArchive[] = "Juniper";
constexpr int kLineBytes = 160;

constexpr char kUsage[] =
    "usage:\n"
    "  mixtool build [--known NAME | --size BYTES] [--index-dir DIR] -o ARCHIVE TRACK...\n"
    "  mixtool list [--index-dir DIR] ARCHIVE\n"
    "  mixtool extract [--index-dir DIR] ARCHIVE [--track N] [-o PATH]\n"
    "  mixtool playlist [--index-dir DIR] ARCHIVE [-o FILE.m3u8]\n"
    "TRACK is a 16-bit PCM WAV file or tone:FREQ_HZ:SECONDS[:RATE][:TITLE].\n"
    "NAME is an archive's index name without .MIX (default Juniper); the index\n"
    "folder defaults to mixtool's own. Tracks are numbered from 1, as the player\n"
    "shows them; extract without --track writes every track into the folder PATH.\n"
    "playlist writes an extended M3U (UTF-8) of one entry per track, ARCHIVE|N.MIX,\n"
    "to FILE.m3u8 (default: beside ARCHIVE, named after it; - for standard output).\n";

class UsageError : public MixError {
public:
    using MixError::MixError;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    const std::string* Option(const std::string& name) const {
        auto found = options.find(name);
        return found == options.end() ? nullptr : &found->second;
    }
};

// Every option takes a value; "--" ends the options.
Arguments ParseArguments(int argc, char** argv, const std::vector<std::string>& known) {
    Arguments parsed;
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (options_done || word.size() < 2 || word[0] != '-') {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            options_done = true;
            continue;
        }
        bool allowed = false;
        for (const std::string& name : known)
            allowed = allowed || name == word;
        if (!allowed)
            throw UsageError("unknown option " + word + " for " + argv[1]);
        if (i + 1 >= argc)
            throw UsageError("option " + word + " needs a value");
        if (!parsed.options.emplace(word, argv[++i]).second)
            throw UsageError("option " + word + " given twice");
    }
    return parsed;
}

std::uint64_t ParseCount(const std::string& text, const std::string& what) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw UsageError(what + " must be a whole number, not '" + text + "'");
    return value;
}

std::string IndexDirectoryOption(const Arguments& arguments) {
    if (const std::string* given = arguments.Option("--index-dir"))
        return *given;
    std::string directory = ProgramDirectory();
    if (directory.empty())
        throw MixError("cannot find mixtool's own folder; give --index-dir");
    return directory;
}

const std::string& OneArchive(const Arguments& arguments) {
    if (arguments.positional.size() != 1)
        throw UsageError("give exactly one archive");
    return arguments.positional[0];
}

int Build(const Arguments& arguments) {
    const std::string* known_name = arguments.Option("--known");
    const std::string* size_text = arguments.Option("--size");
    const std::string* output = arguments.Option("-o");
    if (known_name && size_text)
        throw UsageError("give --known or --size, not both");
    if (!output)
        throw UsageError("build needs -o ARCHIVE");
    if (arguments.positional.empty())
        throw UsageError("build needs at least one TRACK");

    const KnownArchive* known = nullptr;
    if (size_text) {
        std::uint64_t size = ParseCount(*size_text, "--size");
        known = size < kEndOfKnownArchives ? FindKnownArchive(static_cast<std::uint32_t>(size))
                                           : nullptr;
        if (!known)
            throw MixError(*size_text + " bytes is not the size of a known archive; known: " +
                           KnownArchiveList());
    } else {
        std::string name = known_name ? *known_name : kDefaultArchive;
        known = FindKnownArchiveByName(name);
        if (!known)
            throw MixError("'" + name + "' is not a known archive; known: " + KnownArchiveList());
    }

    std::vector<TrackSource> sources;
    for (const std::string& track : arguments.positional)
        sources.push_back(LoadTrackSource(track));
    BuiltArchive built = BuildArchive(*output, *known, IndexDirectoryOption(arguments), sources);
    std::printf("wrote %s (%s, %u bytes, %zu tracks) and %s\n", output->c_str(),
                ArchiveName(*known).c_str(), static_cast<unsigned>(known->size),
                built.tracks.size(), built.index_path.c_str());
    return 0;
}

std::string Duration(std::uint32_t pcm_bytes, std::uint32_t sample_rate) {
    std::uint32_t seconds = pcm_bytes / 2 / sample_rate;
    char text[kLineBytes];
    std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

int List(const Arguments& arguments) {
    const std::string& path = OneArchive(arguments);
    ArchiveReader archive(path, IndexDirectoryOption(arguments));
    std::printf("%4s  %-39s  %10s  %10s  %6s  %8s\n", "#", "Title", "Offset", "Size", "Rate",
                "Duration");
    int damaged = 0;
    for (int i = 0; i < archive.TrackCount(); ++i) {
        const TrackRecord& track = archive.Track(i);
        TrackHeader header{};
        std::string duration = "--:--";
        if (archive.ReadHeader(i, &header))
            duration = Duration(header.output_size, header.sample_rate);
        else
            ++damaged;
        std::printf("%4d  %-39s  %10u  %10u  %6u  %8s\n", i + 1, track.title,
                    static_cast<unsigned>(track.offset), static_cast<unsigned>(track.size),
                    static_cast<unsigned>(track.sample_rate), duration.c_str());
    }
    std::printf("%s: %u bytes (%s), %d tracks holding %u bytes\n", path.c_str(),
                static_cast<unsigned>(archive.Known().size), archive.Known().index_name,
                archive.TrackCount(), static_cast<unsigned>(archive.TotalTrackBytes()));
    if (damaged)
        throw MixError(std::to_string(damaged) + " track header(s) rejected (shown as --:--)");
    return 0;
}

// A file name from the track's number (from 1, as wide as the highest, at
// least two digits) and its title, that every file system takes.
std::string TrackFileName(int index, int count, const char* title) {
    std::string number = std::to_string(index + 1);
    const std::size_t width = std::max<std::size_t>(2, std::to_string(count).size());
    number.insert(0, width - std::min(width, number.size()), '0');
    std::string name = title;
    for (char& c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
            c = '_';
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
        name.pop_back();
    return number + (name.empty() ? "" : " " + name) + ".wav";
}

int Extract(const Arguments& arguments) {
    const std::string& path = OneArchive(arguments);
    const std::string* output = arguments.Option("-o");
    const std::string* track_text = arguments.Option("--track");
    ArchiveReader archive(path, IndexDirectoryOption(arguments));
    const int count = archive.TrackCount();

    if (track_text) {
        std::uint64_t wanted = ParseCount(*track_text, "--track");
        if (wanted < 1 || wanted > static_cast<std::uint64_t>(count))
            throw MixError("track " + *track_text + " does not exist (the archive has " +
                           std::to_string(count) + " tracks, numbered from 1)");
        int index = static_cast<int>(wanted - 1);
        std::string target =
            output ? *output : TrackFileName(index, count, archive.Track(index).title);
        ExtractTrackToWav(archive, index, target);
        std::printf("wrote %s\n", target.c_str());
        return 0;
    }

    std::string folder = output ? *output : FileSystemPath(path).stem().string() + "_tracks";
    std::error_code error;
    std::filesystem::create_directories(FileSystemPath(folder), error);
    if (!std::filesystem::is_directory(FileSystemPath(folder)))
        throw MixError("cannot create folder " + folder +
                       (error ? ": " + error.message() : std::string()));
    const bool progress = isatty(2) != 0;
    for (int i = 0; i < count; ++i) {
        if (progress)
            std::fprintf(stderr, "\rextracting track %d of %d", i + 1, count);
        std::string name = TrackFileName(i, count, archive.Track(i).title);
        try {
            ExtractTrackToWav(archive, i, (FileSystemPath(folder) / name).string());
        } catch (const MixError&) {
            if (progress)
                std::fprintf(stderr, "\n");
            throw;
        }
    }
    if (progress)
        std::fprintf(stderr, "\n");
    std::printf("wrote %d tracks to %s\n", count, folder.c_str());
    return 0;
}

// Without -o the playlist goes beside the archive, named after it, so its
// entries need only the archive's file name; "-o -" writes it to standard
// output, with absolute entries since its place is unknown.
int Playlist(const Arguments& arguments) {
    const std::string& path = OneArchive(arguments);
    const std::string* output = arguments.Option("-o");
    const bool to_stdout = output && *output == "-";
    std::string target;
    if (!to_stdout)
        target = output ? *output
                        : (FileSystemPath(path).parent_path() /
                           (FileSystemPath(path).stem().string() + ".m3u8"))
                              .string();
    ArchiveReader archive(path, IndexDirectoryOption(arguments));
    const TrackPlaylist playlist = MakeTrackPlaylist(archive, path, target);
    for (const std::string& warning : playlist.warnings)
        std::fprintf(stderr, "mixtool: %s\n", warning.c_str());
    if (to_stdout) {
#ifdef _WIN32
        // The lines end in CR LF already: no translation.
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        std::fwrite(playlist.text.data(), 1, playlist.text.size(), stdout);
        return 0;
    }
    WriteWholeFile(target, playlist.text.data(), playlist.text.size());
    std::printf("wrote %s (%d entries)\n", target.c_str(), archive.TrackCount());
    return 0;
}

int Run(int argc, char** argv) {
    if (argc < 2)
        throw UsageError("no command given (build, list, extract or playlist; see mixtool --help)");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "build")
        return Build(ParseArguments(argc, argv, {"--known", "--size", "--index-dir", "-o"}));
    if (command == "list")
        return List(ParseArguments(argc, argv, {"--index-dir"}));
    if (command == "extract")
        return Extract(ParseArguments(argc, argv, {"--index-dir", "--track", "-o"}));
    if (command == "playlist")
        return Playlist(ParseArguments(argc, argv, {"--index-dir", "-o"}));
    throw UsageError("unknown command '" + command + "' (build, list, extract or playlist)");
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& failure) {
        std::fprintf(stderr, "mixtool: %s\n", failure.what());
        return kExitUsage;
    } catch (const std::exception& failure) {
        // MixError, and the library's own (file system, memory): one line each.
        std::fprintf(stderr, "mixtool: %s\n", failure.what());
        return kExitFailure;
    }
}
