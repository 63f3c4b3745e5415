// A host for in-process runs of the whole plug-in, as the media player drives
// it, built from kestrel-play's parts: its main window, whose queue the host
// pumps, answering the restart request with stop and play and the
// end-of-stream notice with stop; its services; and its output device, whose
// two-second buffer a clock drains, as fast as asked, keeping what the
// plug-in wrote.
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

    // The host's commands; each is what the player does on a user's action.
    // Play stops a playing stream first; returns play's result. Both end the
    // host's pause, as a player's play and stop buttons do.
    int Play(const std::string& file);
    // Stops the playing stream, if one plays.
    void Stop();
    // The user's pause and unpause.
    void Pause();
    void Unpause();
    // Stops, and answers what the stream posted meanwhile (a restart request
    // plays again), until nothing plays and nothing waits: as a host does
    // before quit. The output's clock is held meanwhile, so that a track
    // started to answer a restart cannot end and ask for the next one.
    void Settle();
    bool Playing() const { return playing_; }

    // Pumps the main window's queue and answers what came: the restart
    // request with stop (if playing) and play of the last file, the
    // end-of-stream notice with stop. Returns how many messages it handled.
    int Serve();
    // How each restart request is answered from now on: as the media player
    // does (stop and play), as some players do (a seek to 0), or not at all.
    enum class Answer { StopPlay, Seek, Ignore };
    void SetRestartAnswer(std::function<Answer()> answer) { answer_ = std::move(answer); }
    // Serves until `done` holds or `timeout_ms` passes; returns `done()`.
    bool ServeUntil(const std::function<bool()>& done, int timeout_ms);

    const std::vector<Session>& Sessions() const { return sessions_; }
    // Forgets the sessions (keeping their memory), for runs that count on a
    // flat heap.
    void ClearSessions() { sessions_.clear(); }
    int PlayFailures() const { return play_failures_; }
    // Calls each time the host is about to enter, and has left, a call of
    // the plug-in (for a watchdog).
    void SetCallHooks(std::function<void(const char*)> enter, std::function<void()> leave);

private:
    std::function<Answer()> answer_;
    // What kestrel-play's main window hands on, kept for Serve.
    void OnRestartRequest() override;
    void OnEndOfStream() override;
    // The calls themselves; answering a restart request uses them without
    // touching the host's pause.
    int PlayStream(const std::string& file);
    void StopStream();
    void Pump();
    void Enter(const char* what);
    void Leave();

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
    std::vector<Posted> inbox_;
    std::function<void(const char*)> enter_;
    std::function<void()> leave_;
};

} // namespace clockedhost
