// A host for in-process runs of the whole plug-in, as the media player drives
// it, built from kestrel-play's parts: its main window, whose queue the host
// pumps, answering the restart request (with stop and play, or as other
// players do) and the end-of-stream notice with stop; its services; and its
// output device, whose two-second buffer a clock drains, as fast as asked,
// keeping what the plug-in wrote.
// It behaves as a Win32 player's message loop does: what the plug-in posted
// before a user's action is served before that action; every turn of the
// loop asks for the time, the length and the pause state while a stream
// plays; and a player that ignored a restart request lets half a second
// pass before the user's next action, so that the plug-in can tell the
// user's stop and play from a late answer.
// Every play is a "session", from a successful play to its stop; what was
// posted to the main window is counted per session. One host at a time, used
// from the thread that made it (the playback thread only reaches the output).
#pragma once

#include "core/plugin_record.h"
#include "host/event_log.h"
#include "host/host_services.h"
#include "host/output_device.h"
#include "host/player_window.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace clockedhost {

struct Session {
    int notices = 0;              // end-of-stream notices posted during it
    int restarts = 0;             // restart requests posted during it
    bool ended_by_itself = false; // its playback thread had ended before stop
};

// Who makes a call into the plug-in: the user through the player, the player
// answering a message the plug-in posted, or the player's loop showing the
// time and length.
enum class Caller { User, Answer, Loop };

// One step of the host, as a journal sees it: a call into the plug-in, at its
// entry and at its return, or a message taken from the queue.
struct Step {
    // The record's slot ("play", "stop", "set_output_time", ...), the name a
    // user action was given, or "restart_request" / "end_of_stream" for a
    // message taken.
    const char* what = "";
    Caller caller = Caller::User;
    bool returned = false; // a call's return; false at its entry and for a message
    // At entry the argument (set_output_time's ms; a user action's value), at
    // return the result (play's, a query's).
    int value = 0;
};

class ClockedHost : private PlayerWindowHandler {
public:
    // Fills the host's slots of `record`: main window, output, and
    // kestrel-play's analysis, visualisation, DSP (inactive) and stream
    // information services.
    ClockedHost(PluginRecord& record, double speed);
    ~ClockedHost();
    ClockedHost(const ClockedHost&) = delete;
    ClockedHost& operator=(const ClockedHost&) = delete;

    OutputDevice& Output() { return output_; }
    HWND MainWindow() const { return window_.Handle(); }

    // The user's actions. Each first serves what was posted before it.
    // Play stops a playing stream first; returns play's result. Both end the
    // host's pause, as a player's play and stop buttons do.
    int Play(const std::string& file);
    // Stops the playing stream, if one plays.
    void Stop();
    // The user's pause and unpause.
    void Pause();
    void Unpause();
    // The user's seek, to `ms` into the track.
    void Seek(int ms);
    // A user's action the host has no command for (the Sound Info dialog,
    // say): `call` runs as the user's, named `what` with `value` for the
    // journal.
    void UserAction(const char* what, int value, const std::function<void()>& call);
    // Stops, and answers what the stream posted meanwhile (a restart request
    // plays again), until nothing plays and nothing waits: as a host does
    // before quit. The output's clock is held meanwhile, so that a track
    // started to answer a restart cannot end and ask for the next one.
    void Settle();
    bool Playing() const { return playing_; }
    // Nothing plays, nothing waits in the queue, and the player is not busy.
    bool Idle() const { return !playing_ && !busy_ && inbox_.empty(); }

    // One turn of the player's loop: pumps the main window's queue and
    // answers what came (the restart request as set below, the
    // end-of-stream notice with stop), then, while a stream plays, asks for
    // the time, the length and the pause state. A player busy with a late
    // answer does nothing. Returns how many messages it handled.
    int Serve();
    // How each restart request is answered from now on: as the media player
    // does (stop and play, at once), as some players do (a seek to 0, or
    // nothing), or as a media player whose loop is busy when the request
    // comes: it leaves the request in its queue and makes no call at all for
    // a while (SetLateness), then takes it and stops and plays at once.
    enum class Answer { StopPlay, Seek, Ignore, Late };
    void SetRestartAnswer(std::function<Answer()> answer) { answer_ = std::move(answer); }
    // How long a late player stays busy, in ms (2500 unless set).
    void SetLateness(std::function<int()> ms) { lateness_ = std::move(ms); }
    // Serves until `done` holds or `timeout_ms` passes; returns `done()`.
    bool ServeUntil(const std::function<bool()>& done, int timeout_ms);

    const std::vector<Session>& Sessions() const { return sessions_; }
    // Forgets the sessions (keeping their memory), for runs that count on a
    // flat heap.
    void ClearSessions() { sessions_.clear(); }
    int PlayFailures() const { return play_failures_; }
    // User actions that came within the half second after an ignored
    // request all the same, because the plug-in kept posting requests.
    int Hurried() const { return hurried_; }
    // Calls each time the host is about to enter, and has left, a call of
    // the plug-in (for a watchdog).
    void SetCallHooks(std::function<void(const char*)> enter, std::function<void()> leave);
    // Sees every step of the host, on its thread.
    void SetJournal(std::function<void(const Step&)> journal) { journal_ = std::move(journal); }

private:
    using Clock = std::chrono::steady_clock;
    // What kestrel-play's main window hands on, kept for Serve.
    void OnRestartRequest() override;
    void OnEndOfStream() override;
    // Before a user's action: waits out a busy player, serves, and lets the
    // half second after an ignored request pass.
    void ServeFirst();
    void AnswerRestart(Answer answer, bool current);
    // The calls themselves; answering a restart request uses them without
    // touching the host's pause.
    int PlayStream(const std::string& file, Caller caller);
    void StopStream(Caller caller);
    int Call(const char* what, Caller caller, int argument, const std::function<int()>& call);
    void Note(const char* what, Caller caller);
    // Holds the output's clock (nested: Settle holds it around answers that
    // hold it too).
    void Freeze(bool frozen);

    PluginRecord& record_;
    PluginRecord saved_;
    EventLog log_; // off: the tests look at the device itself
    OutputDevice output_;
    HostServices services_;
    PlayerWindow window_;
    bool playing_ = false;
    std::string file_;
    std::vector<Session> sessions_;
    int play_failures_ = 0;
    // Counts the user's plays and stops. A message the plug-in posted
    // before the last of them is stale; a restart answer's stop and play
    // go on with the same stream, as the player sees it.
    unsigned user_commands_ = 0;
    struct Posted {
        UINT message;
        std::size_t session;
        unsigned user_commands;
    };
    // What the player's loop took last, handled once its dispatch returns.
    std::vector<Posted> inbox_;
    bool serving_ = false;
    void Handle(const Posted& posted, Answer answer);
    // The session (from 1) whose end-of-stream notice still waited in the
    // queue when it was stopped; 0: none.
    std::size_t notice_owner_ = 0;
    std::function<Answer()> answer_;
    std::function<int()> lateness_;
    // A late player's busy spell, with the request it leaves in its queue.
    bool busy_ = false;
    Clock::time_point busy_until_{};
    // When the player last took a restart request and did nothing.
    bool ignored_ = false;
    Clock::time_point ignored_at_{};
    int hurried_ = 0;
    int frozen_ = 0;
    std::function<void(const char*)> enter_;
    std::function<void()> leave_;
    std::function<void(const Step&)> journal_;
};

} // namespace clockedhost
