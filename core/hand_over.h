// The hand-over from one track to the next, as one state machine: what plays
// next and when, whoever moves it on (the playback thread at a track's end,
// the Sound Info dialog, the host's play, stop and seek, the wait for the
// host's answer to a restart request). Plain C++ over the facts each event
// brings: no clock, queue or file of its own, so it runs in memory in tests.
//
// The player is asked to restart with a posted message and answers it by
// taking it from its queue and calling stop and play (the media player), by
// a seek (players that take it for "play the entry already playing"), or not
// at all. The plug-in tells an answer from the user's own stop or play by
// what it sees of that message: while the message waits in the player's
// queue nothing the player does answers it; once the player has taken it,
// its answer comes at once, within kAnswerWindowMs; anything else the player
// calls after that shows it passed the request by. A Win32 player takes
// posted messages before input, so the user's actions come after it.
#pragma once

#include <cstdint>
#include <span>

namespace handover {

using Tick = std::uint32_t; // milliseconds, as the system's tick count (wraps)

// How long the playback thread waits for the host's answer before it starts
// the chosen track itself: the media player answers within one turn of its
// message loop, a busy one within a few hundred milliseconds.
constexpr Tick kAnswerWaitMs = 2000;
// A player's answer follows its taking the request from its queue within
// this; its play follows its stop within this.
constexpr Tick kAnswerWindowMs = 500;

enum class Phase : std::uint8_t {
    Idle,         // nothing plays
    Playing,      // the current track plays, its tail included
    Asked,        // the next track is chosen and rewound; the host is asked to restart
    Draining,     // no track to go on with: the output plays out, then the notice
    Ended,        // the end-of-stream notice is posted; the thread has ended
    StoppedAsked, // the host stopped while asked: its play goes on with the chosen track
    StoppedLate,  // a late answer's stop: its play goes on where the listener is
    StoppedEnded, // a late answer's stop after the stream ended: its play starts nothing
};

enum class Event : std::uint8_t {
    Play,       // the host's play
    Stop,       // the host's stop
    Seek,       // the host's set_output_time
    Query,      // any other call of the host: the time, length, pause, volume, file info
    Choice,     // Sound Info "Done" disabled the current track
    TrackEnd,   // the playback thread: the current track has played out
    Wait,       // the playback thread: a pass while the host is asked
    Drained,    // the playback thread: the output has played out while draining
    OutputLost, // the playback thread: the output would not open for the next track
    PlayFailed, // the host's play could not start its track
};

// How the player answers restart requests, as far as the plug-in has seen.
enum class Kind : std::uint8_t { Unknown, StopPlay, Seek, Ignore };

// What an event comes with. Only the fields its event uses are read.
struct Facts {
    Tick now = 0;
    // Host events: whether the plug-in's restart request and its
    // end-of-stream notice still wait in the player's queue.
    bool request_queued = false;
    bool notice_queued = false;
    bool same_archive = false; // Play: of the archive the catalogue describes
    bool has_next = false;     // TrackEnd, Choice: an enabled track after the current one
    bool yielded = true;       // TrackEnd: a sample of the track reached the output
    int enabled = 0;           // TrackEnd: how many tracks are enabled
    bool same_rate = false;    // Choice: the next track plays at the output's rate
    bool seek_pending = false; // Wait: the host has asked for a seek
};

enum class Action : std::uint8_t {
    None,
    StartFirst, // Play: a plain play of the file (its first track, or the one chosen while stopped)
    StartChosen,  // Play: the chosen track, from its start, paused if paused
    Resume,       // Play: the current track from resume_ms()
    FinishNow,    // Play: nothing starts; the end-of-stream notice is posted
    StartNothing, // Play: nothing starts; the notice already on its way ends the stream
    Release,      // Stop: let go of everything, end the pause, withdraw a queued request
    ReleaseKeep,  // Stop: the same, keeping the track chosen while stopped
    Suspend,      // Stop: close the output and the archive, keep the chosen track
    Apply,        // Seek: the playback thread carries it out
    CommitAndAsk, // select the next track, rewind, flush; ask the host unless it is asked
    Commit,       // select the next track, rewind, flush (the host is asked already)
    Choose,       // while stopped: select the next track, rewind; ask the host
    Finish,       // nothing more is decoded; the stream drains and ends
    Drain,        // the stream drains and ends
    StartHere,    // the playback thread starts the chosen track itself
    AdoptHere,    // the track decoded meanwhile is the playing one
    KeepWaiting,  // the playback thread waits on
    PostNotice,   // the end-of-stream notice is posted; the playback thread ends
};

// Conditions of the rows below.
enum class Guard : std::uint8_t {
    Always,
    Answer,     // the call answers the live request: the player took it just now
    LateAnswer, // ... one the playback thread had answered itself already
    PlayOfStop, // a play of the same archive right after the stop (both one answer)
    Chosen,     // a track was chosen in Sound Info while stopped
    Next,       // an enabled track to go on with (and not a whole round without audio)
    NextAlike,  // the same, at the output's rate, with a player known to stop and play
    Finishing,  // every track was disabled while the host was asked
    Meanwhile,  // the dialog's track is decoding while the host is asked
    NotMeanwhile,
    Ready, // answered, passed by, or waited for long enough
    NoticeQueued,
};

struct Row {
    constexpr Row(Phase phase, Event event, Guard guard, Phase next, Action action,
                  const char* says)
        : Row(phase, event, guard, Guard::Always, next, action, says) {}
    constexpr Row(Phase phase, Event event, Guard guard, Guard also, Phase next, Action action,
                  const char* says)
        : phase(phase), event(event), guard(guard), also(also), next(next), action(action),
          says(says) {}
    Phase phase;
    Event event;
    Guard guard;
    Guard also; // a second condition, or Always
    Phase next;
    Action action;
    const char* says; // what the listener gets, for the README
};

// The table, in the order it is searched: the first row whose phase and
// event match and whose guard holds is taken. An event no row takes changes
// nothing.
std::span<const Row> Table();

const char* Name(Phase phase);
const char* Name(Event event);
const char* Name(Action action);
const char* Name(Guard guard);

class Machine {
public:
    // Takes one event: notes what it shows of the player, finds its row,
    // moves to the row's phase and returns its action.
    Action Step(Event event, const Facts& facts);

    Phase phase() const { return phase_; }
    Kind kind() const { return kind_; }
    // A restart request is on its way that the player has neither answered
    // nor passed by.
    bool RequestLive() const { return live_; }
    // Whether the thread decodes: playing, or the dialog's track meanwhile.
    bool Decoding() const {
        return phase_ == Phase::Playing || (phase_ == Phase::Asked && meanwhile_);
    }
    bool Finishing() const { return finishing_; }
    // A track was chosen in Sound Info while nothing played; the next play
    // of its archive starts there.
    bool Chosen() const { return chosen_; }
    // Where a late answer's play goes on, in ms: the listener's place at its
    // stop. Only such a stop asks the output where the listener is.
    int resume_ms() const { return resume_ms_; }
    bool WantsResumePlace() const { return phase_ == Phase::StoppedLate; }
    void PlaceResume(int ms) { resume_ms_ = ms; }
    // Counts the moves to another track; a block decoded before one is
    // never written.
    unsigned generation() const { return generation_; }
    // How long the thread waits for an answer before it starts the track.
    Tick AnswerWaitMs() const { return kind_ == Kind::Ignore ? 0 : kAnswerWaitMs; }

private:
    void Observe(Event event, const Facts& facts);
    bool Holds(Guard guard, Event event, const Facts& facts) const;
    bool AnswerNow(const Facts& facts) const;
    void Enter(const Row& row, const Facts& facts);

    Phase phase_ = Phase::Idle;
    Kind kind_ = Kind::Unknown;
    bool finishing_ = false;
    bool meanwhile_ = false;
    bool chosen_ = false;
    // The restart request on its way, and what the player did with it.
    bool live_ = false;
    bool taken_ = false;         // seen gone from the player's queue
    bool self_answered_ = false; // the thread started the track itself
    Tick posted_at_ = 0;
    Tick taken_at_ = 0;
    Tick stopped_at_ = 0;
    int resume_ms_ = 0;
    int silent_tracks_ = 0; // tracks in a row that ended without a sample heard
    unsigned generation_ = 0;
};

} // namespace handover
