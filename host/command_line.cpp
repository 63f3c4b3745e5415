#include "host/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

bool ParseInt(const std::string& text, int* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

namespace {

// "A<separator>B" as two integers.
bool ParsePair(const std::string& text, char separator, int* first, int* second) {
    std::size_t at = text.find(separator);
    return at != std::string::npos && ParseInt(text.substr(0, at), first) &&
           ParseInt(text.substr(at + 1), second);
}

// One step of --user: NAME[=VALUE][@AT].
bool ParseUserStep(const std::string& text, UserStep* step) {
    std::string body = text;
    std::size_t at = text.find('@');
    if (at != std::string::npos) {
        int ms = 0;
        if (!ParseInt(text.substr(at + 1), &ms) || ms < 0)
            return false;
        step->at_ms = ms;
        body = text.substr(0, at);
    }
    std::size_t equals = body.find('=');
    std::string name = body.substr(0, equals);
    bool valued = equals != std::string::npos;
    if (valued && (!ParseInt(body.substr(equals + 1), &step->value) || step->value < 0))
        return false;
    static constexpr struct {
        const char* name;
        UserStep::Kind kind;
        bool valued;
    } kSteps[] = {
        {"stop", UserStep::Kind::Stop, false},   {"play", UserStep::Kind::Play, false},
        {"pause", UserStep::Kind::Pause, false}, {"unpause", UserStep::Kind::Unpause, false},
        {"seek", UserStep::Kind::Seek, true},    {"wait", UserStep::Kind::Wait, true}};
    for (const auto& known : kSteps)
        if (name == known.name && valued == known.valued) {
            step->kind = known.kind;
            return true;
        }
    return false;
}

} // namespace

bool ParseCommandLine(int argc, char** argv, CommandLine* parsed, std::string* error) {
    PlayerOptions& options = parsed->options;
    bool speed_given = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            parsed->help = true;
            return true;
        }
        if (word.size() < 2 || word[0] != '-') {
            parsed->names.push_back(word);
            continue;
        }
        if (word == "--fast") {
            if (speed_given) {
                *error = "--fast and --speed exclude each other";
                return false;
            }
            speed_given = true;
            options.device.speed = kFastSpeed;
            options.exact_actions = true;
            continue;
        }
        if (i + 1 >= argc) {
            *error = word + " needs a value";
            return false;
        }
        std::string value = argv[++i];
        int a = 0;
        int b = 0;
        if (word == "--plugin") {
            options.plugin_path = value;
        } else if (word == "--speed") {
            char* end = nullptr;
            double speed = std::strtod(value.c_str(), &end);
            if (speed_given || *end != '\0' || !(speed > 0) || speed > kFastSpeed) {
                *error = "--speed takes one number above 0, at most 1000, without --fast";
                return false;
            }
            speed_given = true;
            options.device.speed = speed;
        } else if (word == "--wav") {
            options.wav_path = value;
        } else if (word == "--pcm") {
            options.pcm_path = value;
        } else if (word == "--events") {
            options.events_path = value;
        } else if (word == "--seek") {
            if (!ParsePair(value, '@', &a, &b) || a < 0 || b < 0) {
                *error = "--seek takes MS@AT, e.g. 61500@2000";
                return false;
            }
            options.actions.push_back({ScheduledAction::Kind::Seek, b, a});
        } else if (word == "--pause") {
            if (!ParsePair(value, ':', &a, &b) || a < 0 || b < 0) {
                *error = "--pause takes AT:FOR, e.g. 1000:300";
                return false;
            }
            options.actions.push_back({ScheduledAction::Kind::Pause, a, b});
        } else if (word == "--dsp") {
            if (!ParseDspMode(value, &options.dsp)) {
                *error = "--dsp takes double, half, zero or send";
                return false;
            }
        } else if (word == "--restart-answer") {
            if (value == "stop-play") {
                options.restart_answer = RestartAnswer::StopPlay;
            } else if (value == "seek") {
                options.restart_answer = RestartAnswer::Seek;
            } else if (value == "ignore") {
                options.restart_answer = RestartAnswer::Ignore;
            } else if (value == "late" ||
                       (value.rfind("late:", 0) == 0 && ParseInt(value.substr(5), &a) && a >= 0)) {
                options.restart_answer = RestartAnswer::Late;
                options.late_ms = value == "late" ? kDefaultLateMs : a;
            } else {
                *error = "--restart-answer takes stop-play, seek, ignore or late[:MS]";
                return false;
            }
        } else if (word == "--user") {
            std::size_t start = 0;
            for (;;) {
                std::size_t comma = value.find(',', start);
                UserStep step;
                if (!ParseUserStep(value.substr(start, comma == std::string::npos
                                                           ? std::string::npos
                                                           : comma - start),
                                   &step)) {
                    *error = "--user takes STEP[@AT],... with the steps stop, play, pause, "
                             "unpause, seek=MS and wait=MS, e.g. stop@1200,wait=1700,play";
                    return false;
                }
                options.user.push_back(step);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (word == "--until") {
            if (!ParseInt(value, &a) || a < 0) {
                *error = "--until takes a number of ms";
                return false;
            }
            options.until_ms = a;
        } else if (word == "--info") {
            if (value.empty()) {
                *error = "--info takes a field's name, e.g. title";
                return false;
            }
            options.info_fields.push_back(value);
        } else if (word == "--convert") {
            options.convert_path = value;
        } else if (word == "--fail-open") {
            if (!ParseInt(value, &a) || a < 1) {
                *error = "--fail-open takes the number of the opening to fail, from 1";
                return false;
            }
            options.device.fail_open = a;
        } else {
            *error = "unknown option " + word;
            return false;
        }
    }
    if (parsed->names.empty()) {
        *error = "nothing to play: give archives, track entries or playlists";
        return false;
    }
    return true;
}
