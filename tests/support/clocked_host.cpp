#include "support/clocked_host.h"
#include "core/player_state.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace clockedhost {

namespace {

// A player answers a restart request within half a second of taking it from
// its queue; the user's next action after a request it ignored comes later
// than that, so that the plug-in can tell the two apart. The plug-in sees
// the request gone only at the player's next call into it (a turn or two of
// the loop later, longer on a loaded machine): the user waits a little more.
constexpr auto kAfterIgnoredRequest = std::chrono::milliseconds(600);
// How long a user waits for that half second while the plug-in keeps posting
// requests (tracks that last a few ms at a fast clock) before acting anyway.
constexpr auto kUserPatience = std::chrono::milliseconds(3000);
constexpr int kDefaultLatenessMs = 2500;
constexpr auto kTurn = std::chrono::milliseconds(1);

} // namespace

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

int ClockedHost::Call(const char* what, Caller caller, int argument,
                      const std::function<int()>& call) {
    if (journal_)
        journal_(Step{what, caller, false, argument});
    if (enter_)
        enter_(what);
    int result = call();
    if (leave_)
        leave_();
    if (journal_)
        journal_(Step{what, caller, true, result});
    return result;
}

void ClockedHost::Note(const char* what, Caller caller) {
    if (journal_)
        journal_(Step{what, caller, false, 0});
}

// A message the player's own loop took is handled there; one that another
// loop dispatched (the Sound Info dialog's, while it is open) is handled at
// once, as a window procedure handles it.
void ClockedHost::OnRestartRequest() {
    Posted posted{kRestartRequest, sessions_.size(), user_commands_};
    if (serving_) {
        inbox_.push_back(posted);
        return;
    }
    Answer answer = answer_ ? answer_() : Answer::StopPlay;
    Handle(posted, answer == Answer::Late ? Answer::StopPlay : answer);
}

void ClockedHost::OnEndOfStream() {
    std::size_t session = notice_owner_ ? std::exchange(notice_owner_, 0) : sessions_.size();
    Posted posted{kEndOfStreamNotice, session, user_commands_};
    if (serving_)
        inbox_.push_back(posted);
    else
        Handle(posted, Answer::StopPlay);
}

void ClockedHost::Freeze(bool frozen) {
    frozen_ += frozen ? 1 : -1;
    output_.FreezeClock(frozen_ > 0);
}

void ClockedHost::ServeFirst() {
    const auto patience = Clock::now() + kUserPatience;
    for (;;) {
        // A busy player handles no input: the action waits for the spell's end.
        if (busy_)
            std::this_thread::sleep_until(busy_until_);
        Serve();
        if (busy_)
            continue;
        if (!ignored_ || Clock::now() - ignored_at_ >= kAfterIgnoredRequest)
            return;
        if (Clock::now() >= patience) {
            ++hurried_;
            return;
        }
        std::this_thread::sleep_for(kTurn);
    }
}

int ClockedHost::Play(const std::string& file) {
    ServeFirst();
    output_.SetHostPaused(false);
    ++user_commands_;
    return PlayStream(file, Caller::User);
}

void ClockedHost::Stop() {
    ServeFirst();
    ++user_commands_;
    StopStream(Caller::User);
    output_.SetHostPaused(false);
}

void ClockedHost::Pause() {
    ServeFirst();
    // As a player's pause button: nothing to pause while nothing plays.
    if (!playing_)
        return;
    Call("pause", Caller::User, 0, [this] { return record_.pause(), 0; });
    output_.SetHostPaused(true);
}

void ClockedHost::Unpause() {
    ServeFirst();
    output_.SetHostPaused(false);
    Call("unpause", Caller::User, 0, [this] { return record_.unpause(), 0; });
}

void ClockedHost::Seek(int ms) {
    ServeFirst();
    // The seek bar only moves while a stream plays.
    if (!playing_)
        return;
    Call("set_output_time", Caller::User, ms,
         [this, ms] { return record_.set_output_time(ms), 0; });
}

void ClockedHost::UserAction(const char* what, int value, const std::function<void()>& call) {
    ServeFirst();
    Call(what, Caller::User, value, [&call] { return call(), 0; });
}

int ClockedHost::PlayStream(const std::string& file, Caller caller) {
    if (playing_)
        StopStream(caller);
    file_ = file;
    output_.SetHostStopped(false);
    int result = Call("play", caller, 0, [this, &file] { return record_.play(file.c_str()); });
    if (result == 0) {
        sessions_.push_back(Session{});
        playing_ = true;
    } else {
        ++play_failures_;
    }
    return result;
}

void ClockedHost::StopStream(Caller caller) {
    if (!playing_)
        return;
    // What the stream posted and the player has not taken yet stays queued:
    // the player's loop takes it after the stop, in order.
    bool ended = player.thread != NO_THREAD && player.thread != nullptr &&
                 WaitForSingleObject(player.thread, 0) == WAIT_OBJECT_0;
    // The notice of a stream that ended by itself may still wait: it is that
    // stream's, whenever the loop takes it.
    if (ended && window_.EndOfStreamNoticeWaits())
        notice_owner_ = sessions_.size();
    Call("stop", caller, 0, [this] {
        record_.stop();
        output_.SetHostStopped(true);
        return 0;
    });
    playing_ = false;
    sessions_.back().ended_by_itself = ended;
}

void ClockedHost::Settle() {
    Freeze(true);
    for (int round = 0; round < 50; ++round) {
        Stop();
        if (Serve() == 0 && !playing_)
            break;
    }
    Stop();
    Freeze(false);
}

void ClockedHost::AnswerRestart(Answer answer, bool current) {
    switch (answer) {
    case Answer::StopPlay:
    case Answer::Late:
        // Stop and play of the same entry, back to back. The clock is held
        // meanwhile, as it barely moves in the few ms this takes at the
        // speed of real time: the listener is where the stop found them.
        Freeze(true);
        if (playing_) {
            Call("get_output_time", Caller::Answer, 0,
                 [this] { return record_.get_output_time(); });
            Call("get_length", Caller::Answer, 0, [this] { return record_.get_length(); });
        }
        PlayStream(file_, Caller::Answer);
        Freeze(false);
        break;
    case Answer::Seek:
        if (current)
            Call("set_output_time", Caller::Answer, 0,
                 [this] { return record_.set_output_time(0), 0; });
        break;
    case Answer::Ignore:
        ignored_ = true;
        ignored_at_ = Clock::now();
        break;
    }
}

void ClockedHost::Handle(const Posted& posted, Answer answer) {
    // Sessions are numbered from 1 in the inbox: 0 means before any play.
    Session* from = posted.session > 0 ? &sessions_[posted.session - 1] : nullptr;
    bool current = posted.user_commands == user_commands_ && playing_;
    if (posted.message == kEndOfStreamNotice) {
        if (from)
            ++from->notices;
        Note("end_of_stream", Caller::Answer);
        if (current) {
            ++user_commands_;
            StopStream(Caller::Answer);
            output_.SetHostPaused(false);
        }
    } else if (posted.message == kRestartRequest) {
        if (from)
            ++from->restarts;
        Note("restart_request", Caller::Answer);
        AnswerRestart(answer, current);
    }
}

int ClockedHost::Serve() {
    bool after_busy = false;
    if (busy_) {
        if (Clock::now() < busy_until_)
            return 0;
        busy_ = false;
        after_busy = true;
    }
    // One message at a time, each handled before the next is taken, as a
    // Win32 player's loop does: what the plug-in posted after a restart
    // request waits in the queue while the player answers it.
    int handled = 0;
    for (;;) {
        Answer answer = Answer::StopPlay;
        if (window_.RestartRequestWaits()) {
            // What came while the player was busy is answered at once. A busy
            // player leaves the request in its queue.
            answer = after_busy ? Answer::StopPlay : answer_ ? answer_() : Answer::StopPlay;
            if (answer == Answer::Late) {
                busy_ = true;
                busy_until_ = Clock::now() + std::chrono::milliseconds(
                                                 lateness_ ? lateness_() : kDefaultLatenessMs);
                return handled;
            }
        }
        serving_ = true;
        const bool took = window_.PumpOne();
        serving_ = false;
        if (!took)
            break;
        if (inbox_.empty())
            continue;
        Posted posted = inbox_.front();
        inbox_.clear();
        ++handled;
        Handle(posted, answer);
    }
    // The player shows the time and length of what plays on every turn.
    if (playing_) {
        Call("get_output_time", Caller::Loop, 0, [this] { return record_.get_output_time(); });
        Call("get_length", Caller::Loop, 0, [this] { return record_.get_length(); });
        Call("is_paused", Caller::Loop, 0, [this] { return record_.is_paused(); });
    }
    return handled;
}

bool ClockedHost::ServeUntil(const std::function<bool()>& done, int timeout_ms) {
    auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        Serve();
        std::this_thread::sleep_for(kTurn);
    }
    return true;
}

} // namespace clockedhost
