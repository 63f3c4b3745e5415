#include "support/clocked_host.h"
#include "core/player_state.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace clockedhost {

ClockedHost::ClockedHost(PluginRecord& record, double speed)
    : record_(record), saved_(record), output_(OutputDeviceOptions{speed}, &log_, nullptr),
      services_(DspMode::Off, nullptr, &log_), window_(this) {
    output_.KeepWritten(true);
    record.main_window = window_.Handle();
    record.output = output_.Install();
    services_.Install(&record);
}

ClockedHost::~ClockedHost() {
    record_ = saved_;
}

void ClockedHost::SetCallHooks(std::function<void(const char*)> enter,
                               std::function<void()> leave) {
    enter_ = std::move(enter);
    leave_ = std::move(leave);
}

void ClockedHost::Enter(const char* what) {
    if (enter_)
        enter_(what);
}

void ClockedHost::Leave() {
    if (leave_)
        leave_();
}

void ClockedHost::OnRestartRequest() {
    inbox_.push_back(Posted{kRestartRequest, sessions_.size(), user_commands_});
}

void ClockedHost::OnEndOfStream() {
    inbox_.push_back(Posted{kEndOfStreamNotice, sessions_.size(), user_commands_});
}

void ClockedHost::Pump() {
    window_.PumpMessages();
}

int ClockedHost::Play(const std::string& file) {
    output_.SetHostPaused(false);
    Pump(); // what came before the user's play belongs to the stream before
    ++user_commands_;
    return PlayStream(file);
}

void ClockedHost::Stop() {
    Pump(); // what came before the user's stop belongs to the stream stopped
    ++user_commands_;
    StopStream();
    output_.SetHostPaused(false);
}

int ClockedHost::PlayStream(const std::string& file) {
    if (playing_)
        StopStream();
    file_ = file;
    Enter("play");
    output_.SetHostStopped(false);
    int result = record_.play(file.c_str());
    Leave();
    if (result == 0) {
        sessions_.push_back(Session{});
        playing_ = true;
    } else {
        ++play_failures_;
    }
    return result;
}

void ClockedHost::StopStream() {
    if (!playing_)
        return;
    // Whatever the stream posted before it is stopped belongs to it.
    Pump();
    bool ended = player.thread != NO_THREAD && player.thread != nullptr &&
                 WaitForSingleObject(player.thread, 0) == WAIT_OBJECT_0;
    Enter("stop");
    record_.stop();
    output_.SetHostStopped(true);
    Leave();
    playing_ = false;
    sessions_.back().ended_by_itself = ended;
    Pump();
}

void ClockedHost::Pause() {
    // As a player's pause button: nothing to pause while nothing plays.
    if (!playing_)
        return;
    Enter("pause");
    record_.pause();
    Leave();
    output_.SetHostPaused(true);
}

void ClockedHost::Unpause() {
    output_.SetHostPaused(false);
    Enter("unpause");
    record_.unpause();
    Leave();
}

void ClockedHost::Settle() {
    output_.FreezeClock(true);
    for (int round = 0; round < 50; ++round) {
        Stop();
        if (Serve() == 0 && !playing_)
            break;
    }
    Stop();
    output_.FreezeClock(false);
}

int ClockedHost::Serve() {
    Pump();
    int handled = 0;
    while (!inbox_.empty()) {
        Posted posted = inbox_.front();
        inbox_.erase(inbox_.begin());
        ++handled;
        // Sessions are numbered from 1 in the inbox: 0 means before any play.
        Session* from = posted.session > 0 ? &sessions_[posted.session - 1] : nullptr;
        bool current = posted.user_commands == user_commands_ && playing_;
        if (posted.message == kEndOfStreamNotice) {
            if (from)
                ++from->notices;
            if (current)
                Stop();
        } else if (posted.message == kRestartRequest) {
            if (from)
                ++from->restarts;
            Answer answer = answer_ ? answer_() : Answer::StopPlay;
            if (answer == Answer::StopPlay)
                PlayStream(file_);
            else if (answer == Answer::Seek && current) {
                Enter("set_output_time");
                record_.set_output_time(0);
                Leave();
            }
        }
        Pump();
    }
    return handled;
}

bool ClockedHost::ServeUntil(const std::function<bool()>& done, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Serve();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace clockedhost
