// What the listener must hear, as plain code over the archive's extractions
// and the tracks' enabled flags: given what the player and the user did, which
// track plays, from which sample, at which rate, paused or not, and whether
// the stream has ended. It reads one session's journal (the host's calls and
// the messages it took, the output device's calls, in the order they came)
// and names the first step that no reading of the rules allows.
// Some orders are the plug-in's own to choose: its thread notices a track's
// end a little after the output has played it out, applies a seek when it
// next looks, and the dialog's choice lands somewhere inside the info box
// call. The model keeps every reading the journal still allows (a handful
// at most) and drops those a step rules out; a step that rules out all of
// them is a mismatch.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace listener {

// How a player answers the plug-in's restart request: stop and play at once;
// stop and play after 2.2-3 s of making no call at all; a seek to 0; nothing.
enum class Player { StopPlay, LateStopPlay, Seek, Ignore };
const char* Name(Player player);

struct Track {
    int rate = 0;
    const std::vector<std::int16_t>* samples = nullptr;
};

// Who made a host call: the user, the player answering a message, or the
// player's loop showing the time.
enum class Who { User, Answer, Loop };

struct Event {
    enum class Kind {
        // The host's calls, at entry and at return, and the messages it took.
        Play,
        Stop,
        Pause,
        Unpause,
        Seek,
        InfoBox,
        GetOutputTime,
        GetLength,
        IsPaused,
        TakeRestart,
        TakeEndOfStream,
        // The output device's calls, from either thread.
        Open,
        Close,
        Write,
        Flush,
        OutputPause,
    };
    Kind kind = Kind::Play;
    bool FromDevice() const { return kind >= Kind::Open; }
    Who who = Who::User;
    bool returned = false;
    bool host_thread = true;
    // Seek: ms; InfoBox: the rows chosen with Done (-1: Cancel); a call's
    // return: its result; Open: the rate; Flush: ms; OutputPause: the flag.
    int value = 0;
    int result = 0;          // Open's result
    std::vector<char> bytes; // Write's block
    // The device's bytes heard in all, before and after the step.
    std::int64_t heard_before = 0;
    std::int64_t heard_after = 0;
    double at_ms = 0;
};

struct Tally {
    long steps = 0;
    int plays = 0;
    int requests = 0;
    int notices = 0;
    int seeks = 0;
    int dialogs = 0;
    long writes = 0;
    std::size_t most_readings = 1;
};

class Model {
public:
    // `silence_ms`: the longest the listener may wait, unpaused, for what
    // comes next (audio, a track's start, the end-of-stream notice).
    Model(std::vector<Track> tracks, Player player, double silence_ms);
    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Leaves out the checks of what the player reads: "length" (get_length
    // and get_output_time), "paused" (is_paused); for a run that looks past
    // a fault already known.
    void Skip(const std::string& checks) { skip_ = checks; }

    // Takes the journal's next step; false once no reading allows it.
    bool Take(const Event& event);
    // Time has passed with no step: false if what was due is overdue.
    bool Tick(double now_ms);
    // Whether something is still to come that the listener waits for
    // unpaused: a track to start, the end-of-stream notice.
    bool Awaiting() const;
    const std::string& Mismatch() const { return mismatch_; }
    const Tally& Counts() const { return tally_; }

private:
    struct Reading;
    using Readings = std::vector<Reading>;

    // The readings a step leaves of `reading` (none: it rules it out, and
    // `why` says how).
    Readings Apply(Reading reading, const Event& event, std::string* why) const;
    Readings ApplyHost(Reading reading, const Event& event, std::string* why) const;
    Readings ApplyDevice(Reading reading, const Event& event, std::string* why) const;
    Readings Write(Reading reading, const Event& event, std::string* why) const;
    Readings Flush(Reading reading, const Event& event, std::string* why) const;
    Readings Done(Reading reading, int rows, double at) const;
    Readings Closure(const Reading& reading, double at) const;
    // Where a block of a track that goes on from `next` may start: there,
    // or after a late answer's play (`next` kNone) at any even sample of
    // the window around where the listener was.
    std::vector<int> Starts(const Reading& reading, int next) const;
    bool CanEnd(const Reading& reading) const;
    Reading EndTrack(Reading reading, double at) const;
    void Seek(Reading& reading, std::size_t which, double at) const;
    std::string Hear(Reading& reading, std::int64_t bytes, double at) const;
    std::string Overdue(const Reading& reading, double now) const;
    std::string Describe(const Reading& reading) const;
    std::string Describe(const Event& event) const;
    std::string Locate(const std::vector<char>& bytes) const;
    bool Holds(int track, int from, const std::vector<char>& bytes) const;
    int NextEnabled(const Reading& reading, int after) const;
    int Length(int track) const;
    int LengthMs(int track) const;
    int Rate(int track) const { return tracks_[static_cast<std::size_t>(track)].rate; }
    bool Fail(const std::string& where, const std::string& why);
    // Keeps the step for a report's account of what came before.
    void Remember(const Event& event);

    std::vector<Track> tracks_;
    Player player_;
    double silence_ms_;
    Readings readings_;
    std::string skip_;
    std::deque<std::string> recent_;
    bool loop_line_ = false;
    int loop_turns_ = 0;
    std::vector<std::string> loop_values_;
    int writes_in_line_ = 0;
    long write_bytes_ = 0;
    std::string mismatch_;
    Tally tally_;
    // The device's bytes heard in all at the last step, and how many more
    // were heard before the step being taken.
    std::int64_t heard_ = 0;
    std::int64_t heard_gap_ = 0;
};

} // namespace listener
