// A host for in-process runs of the whole plug-in, as the media player drives
// it: a real main window whose queue the host pumps, answering the restart
// request with stop and play and the end-of-stream notice with stop; and an
// output device whose two-second buffer a clock drains, as fast as asked.
// Every play is a "session", from a successful play to its stop; what was
// posted to the main window is counted per session. One host at a time, used
// from the thread that made it (the playback thread only reaches the output).
#pragma once

#include "core/plugin_record.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace clockedhost {

// Sees every block the plug-in writes, on the playback thread.
using WriteObserver = std::function<void(const char* bytes, int count)>;

class ClockedOutput {
public:
    // `speed`: seconds of audio the clock plays per second of real time.
    explicit ClockedOutput(double speed);

    // The services table; its slots reach the one live ClockedOutput.
    OutputServices* Services() { return &services_; }

    // Opening number n from now on (1 = the next) fails; 0: none does.
    void FailOpen(int n);
    // While held the clock plays nothing: what is written stays buffered and
    // the device goes on playing, whatever is opened or closed meanwhile.
    void Hold(bool held);
    void SetObserver(WriteObserver observer);
    // Whether written audio is kept for TakeWritten (it is unless switched off).
    void KeepWritten(bool keep);

    int Opens();
    bool IsOpen();
    bool IsPaused();
    // The host's own pause, as the user pressed it: while it is on, nothing
    // may be heard, whatever the plug-in did to the device meanwhile.
    void HostPaused(bool paused);
    // Calls that broke the device's contract: opening while open, closing
    // while closed, writing while closed or more than can_write offered, and
    // audio heard while the host was paused.
    int Violations();
    std::int64_t BytesWritten();
    // Everything written since the last call, with a -1 entry in `flushes`
    // marking each flush by its byte position.
    std::vector<char> TakeWritten(std::vector<std::size_t>* flushes);

    // The slots.
    int Open(int sample_rate, int channels, int bits, int option_a, int option_b);
    void Close();
    void Write(const char* buffer, int bytes);
    int CanWrite();
    int IsPlaying();
    void Pause(int flag);
    void SetVolume(int volume);
    void SetPan(int pan);
    void Flush(int ms);
    int GetOutputTime();
    int GetWrittenTime();

private:
    void Advance(); // caller holds lock_
    std::int64_t BytesPerSecond() const;
    std::int64_t Capacity() const;

    const double speed_;
    OutputServices services_{};
    WriteObserver observer_;

    std::mutex lock_;
    int fail_open_at_ = 0;
    int opens_ = 0;
    bool open_ = false;
    bool paused_ = false;
    bool host_paused_ = false;
    bool held_ = false;
    int rate_ = 0;
    int frame_ = 2;
    std::int64_t buffered_ = 0;
    std::int64_t written_ = 0; // since the last flush or open
    std::int64_t played_ = 0;
    int base_ms_ = 0;
    double credit_ = 0;
    std::chrono::steady_clock::time_point last_;
    int violations_ = 0;
    std::int64_t total_written_ = 0;
    bool keep_ = true;
    std::vector<char> kept_;
    std::vector<std::size_t> kept_flushes_;
};

struct Session {
    int notices = 0;              // end-of-stream notices posted during it
    int restarts = 0;             // restart requests posted during it
    bool ended_by_itself = false; // its playback thread had ended before stop
};

class ClockedHost {
public:
    // Fills the host's slots of `record`: main window, output, analysis,
    // visualisation, DSP (inactive unless SetDsp) and stream information.
    ClockedHost(PluginRecord& record, double speed);
    ~ClockedHost();
    ClockedHost(const ClockedHost&) = delete;
    ClockedHost& operator=(const ClockedHost&) = delete;

    ClockedOutput& Output() { return output_; }
    HWND MainWindow() const { return window_; }
    // The DSP stage reports itself active and hands blocks back unchanged.
    void SetDsp(bool active);

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
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM first, LPARAM second);
    // The calls themselves; answering a restart request uses them without
    // touching the host's pause.
    int PlayStream(const std::string& file);
    void StopStream();
    void Pump();
    void Enter(const char* what);
    void Leave();

    PluginRecord& record_;
    PluginRecord saved_;
    ClockedOutput output_;
    HWND window_ = nullptr;
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
        LPARAM second;
        std::size_t session;
        unsigned user_commands;
    };
    std::vector<Posted> inbox_;
    std::function<void(const char*)> enter_;
    std::function<void()> leave_;
};

} // namespace clockedhost
