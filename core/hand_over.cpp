#include "core/hand_over.h"

#include <iterator>

namespace handover {

namespace {

using enum Phase;
using enum Event;
using G = Guard;
using A = Action;

// Every way through a track change. "Asked" means the plug-in has posted its
// restart request to the player; "the chosen track" is the one it selected
// and rewound for the player's answer.
constexpr Row kRows[] = {
    // Nothing plays.
    {Idle, Play, G::Always, Playing, A::StartFirst,
     "the archive from its first track, or from the track chosen in Sound Info"},
    {Idle, Stop, G::Chosen, Idle, A::ReleaseKeep, "nothing; the track chosen in Sound Info stays"},
    {Idle, Stop, G::Always, Idle, A::Release, "nothing"},
    {Idle, Choice, G::Next, Idle, A::Choose,
     "the track is chosen, and the player asked to play the archive from it"},

    // A track plays.
    {Playing, TrackEnd, G::Finishing, Draining, A::Drain,
     "every track disabled: what the output holds plays out, then the stream ends"},
    {Playing, TrackEnd, G::Next, Asked, A::CommitAndAsk,
     "once the track has played out, the next enabled track is chosen and the player asked"},
    {Playing, TrackEnd, G::Always, Draining, A::Drain,
     "no track left, or a whole round without a sample: the stream ends"},
    {Playing, Choice, G::NextAlike, Asked, A::CommitAndAsk,
     "the output is emptied; the next enabled track decodes until the player's stop"},
    {Playing, Choice, G::Next, Asked, A::CommitAndAsk,
     "the output is emptied; the next enabled track waits for the player's answer"},
    {Playing, Choice, G::Always, Playing, A::Finish,
     "nothing is decoded after the block in hand: the stream drains and ends"},
    {Playing, Stop, G::LateAnswer, StoppedLate, A::Suspend,
     "a late answer: its play goes on where the listener is"},
    {Playing, Stop, G::Always, Idle, A::Release,
     "silence, the pause ends; the next play is afresh"},
    {Playing, Seek, G::Always, Playing, A::Apply,
     "the track from the whole second before the time"},
    {Playing, OutputLost, G::Always, Ended, A::PostNotice, "the stream ends"},
    {Playing, PlayFailed, G::Always, Idle, A::Release, "nothing: play fails"},

    // The next track is chosen; the player is asked to restart.
    {Asked, Stop, G::Answer, StoppedAsked, A::Suspend,
     "the player's answer: its play starts the chosen track"},
    {Asked, Stop, G::Always, Idle, A::Release,
     "the user's stop: silence, the pause ends, the request is withdrawn"},
    {Asked, Seek, G::Always, Asked, A::Apply, "an answer: the chosen track from the time sought"},
    {Asked, Choice, G::Next, Asked, A::Commit,
     "the newest choice is the chosen track; the player is asked once"},
    {Asked, Choice, G::Always, Asked, A::Finish, "the player's answer ends the stream"},
    {Asked, TrackEnd, G::Next, Asked, A::Commit,
     "the track decoded meanwhile has ended: the one after it is chosen"},
    {Asked, TrackEnd, G::Always, Asked, A::Finish, "the player's answer ends the stream"},
    {Asked, Wait, G::Finishing, G::Ready, Draining, A::Drain, "the stream ends"},
    {Asked, Wait, G::Meanwhile, G::Ready, Playing, A::AdoptHere,
     "the track decoded meanwhile plays on"},
    {Asked, Wait, G::Ready, G::NotMeanwhile, Playing, A::StartHere,
     "a seek, no answer in time, or the request passed by: the chosen track starts"},
    {Asked, Wait, G::Always, Asked, A::KeepWaiting, "the player's answer is awaited"},
    {Asked, OutputLost, G::Always, Ended, A::PostNotice, "the stream ends"},

    // The player stopped in answer to the request.
    {StoppedAsked, Play, G::PlayOfStop, G::Finishing, Idle, A::FinishNow, "the stream ends"},
    {StoppedAsked, Play, G::PlayOfStop, Playing, A::StartChosen,
     "the chosen track from its start, at its rate, paused if paused"},
    {StoppedAsked, Play, G::Always, Playing, A::StartFirst,
     "a play long after the stop is the user's: the archive afresh"},
    {StoppedAsked, Stop, G::Always, StoppedAsked, A::None, "nothing"},
    {StoppedAsked, Choice, G::Next, StoppedAsked, A::Commit,
     "the newest choice is the chosen track"},
    {StoppedAsked, Choice, G::Always, StoppedAsked, A::Finish, "the player's play ends the stream"},
    {StoppedAsked, PlayFailed, G::Always, Idle, A::Release, "nothing: play fails"},

    // A late answer's stop.
    {StoppedLate, Play, G::PlayOfStop, Playing, A::Resume,
     "the track goes on where the listener was: nothing restarts or skips"},
    {StoppedLate, Play, G::Always, Playing, A::StartFirst, "the archive afresh"},
    {StoppedLate, Stop, G::Always, Idle, A::Release, "nothing"},
    {StoppedLate, Choice, G::Next, Idle, A::Choose, "the track is chosen, as while stopped"},

    // No track left.
    {Draining, Drained, G::Always, Ended, A::PostNotice, "one end-of-stream notice"},
    {Draining, Seek, G::Finishing, Draining, A::None, "nothing: the stream is ending"},
    {Draining, Seek, G::Always, Playing, A::Apply, "the last track again, from the time sought"},
    {Draining, Choice, G::Next, Asked, A::CommitAndAsk,
     "the output is emptied; the next enabled track waits for the player's answer"},
    {Draining, Choice, G::Always, Draining, A::Finish, "nothing more is decoded"},
    {Draining, Stop, G::Always, Idle, A::Release, "silence, the pause ends"},
    {Draining, OutputLost, G::Always, Ended, A::PostNotice, "the stream ends"},

    // The notice is posted; the player stops the stream.
    {Ended, Stop, G::NoticeQueued, StoppedEnded, A::Suspend,
     "a late answer that came before the notice: its play starts nothing"},
    {Ended, Stop, G::Chosen, Idle, A::ReleaseKeep, "nothing; the track chosen in Sound Info stays"},
    {Ended, Stop, G::Always, Idle, A::Release, "nothing"},
    {Ended, Choice, G::Next, Ended, A::Choose, "the track is chosen, as while stopped"},
    {StoppedEnded, Play, G::PlayOfStop, G::NoticeQueued, StoppedEnded, A::StartNothing,
     "nothing: the notice on its way stops the player"},
    {StoppedEnded, Play, G::Always, Playing, A::StartFirst, "the archive afresh"},
    {StoppedEnded, Stop, G::Always, Idle, A::Release, "nothing"},
};

bool HostEvent(Event event) {
    return event == Play || event == Stop || event == Seek || event == Query || event == Choice;
}

} // namespace

std::span<const Row> Table() {
    return kRows;
}

void Machine::Observe(Event event, const Facts& facts) {
    if (!HostEvent(event) || !live_ || facts.request_queued)
        return;
    // The player has taken the request from its queue: its answer comes at
    // once. Anything it does once that moment is past shows it passed the
    // request by (and tells how it treats the next).
    if (!taken_) {
        taken_ = true;
        taken_at_ = facts.now;
    }
    if (facts.now - taken_at_ >= kAnswerWindowMs) {
        live_ = false;
        kind_ = Kind::Ignore;
    }
}

bool Machine::AnswerNow(const Facts& facts) const {
    return live_ && !facts.request_queued && facts.now - taken_at_ < kAnswerWindowMs;
}

bool Machine::Holds(Guard guard, Event event, const Facts& facts) const {
    switch (guard) {
    case G::Always:
        return true;
    case G::Answer:
        return AnswerNow(facts);
    case G::LateAnswer:
        return AnswerNow(facts) && self_answered_;
    case G::PlayOfStop:
        return facts.same_archive && facts.now - stopped_at_ < kAnswerWindowMs;
    case G::Chosen:
        return chosen_;
    case G::Next: {
        // A whole round of the enabled tracks without a sample heard: an
        // archive of empty or damaged tracks would go round for ever.
        int silent = event == TrackEnd && !facts.yielded ? silent_tracks_ + 1 : 0;
        return facts.has_next && (event != TrackEnd || silent < facts.enabled);
    }
    case G::NextAlike:
        return kind_ == Kind::StopPlay && facts.same_rate && Holds(G::Next, event, facts);
    case G::Finishing:
        return finishing_;
    case G::Meanwhile:
        return meanwhile_;
    case G::NotMeanwhile:
        return !meanwhile_;
    case G::Ready:
        return facts.seek_pending || !live_ || facts.now - posted_at_ >= AnswerWaitMs();
    case G::NoticeQueued:
        return facts.notice_queued;
    }
    return false;
}

void Machine::Enter(const Row& row, const Facts& facts) {
    const Phase from = phase_;
    phase_ = row.next;
    switch (row.action) {
    case A::StartFirst:
    case A::Release:
    case A::FinishNow:
        chosen_ = false;
        [[fallthrough]];
    case A::ReleaseKeep:
        finishing_ = false;
        meanwhile_ = false;
        live_ = false;
        self_answered_ = false;
        silent_tracks_ = 0;
        break;
    case A::StartChosen:
    case A::Resume:
        chosen_ = false;
        finishing_ = false;
        meanwhile_ = false;
        break;
    case A::Suspend:
        stopped_at_ = facts.now;
        resume_ms_ = 0;
        if (from == Asked || from == Playing) {
            // The stop answered the request: this player stops and plays.
            live_ = false;
            kind_ = Kind::StopPlay;
        }
        break;
    case A::Apply:
        if (AnswerNow(facts)) {
            live_ = false;
            kind_ = Kind::Seek;
        }
        break;
    case A::CommitAndAsk:
    case A::Commit:
    case A::Choose:
        ++generation_;
        finishing_ = false;
        // Only a player known to answer at once with stop and play hears the
        // dialog's track begin before its answer, and only at the rate the
        // output is open at.
        meanwhile_ = row.guard == G::NextAlike;
        chosen_ = row.action == A::Choose;
        if (row.event == TrackEnd)
            silent_tracks_ = facts.yielded ? 0 : silent_tracks_ + 1;
        if (row.action == A::CommitAndAsk && !live_) {
            live_ = true;
            taken_ = false;
            posted_at_ = facts.now;
        } else if (live_) {
            // Re-aimed: the wait for the answer starts again.
            posted_at_ = facts.now;
        }
        self_answered_ = false;
        break;
    case A::Finish:
        finishing_ = true;
        meanwhile_ = false;
        break;
    case A::Drain:
        meanwhile_ = false;
        if (row.event == TrackEnd)
            silent_tracks_ = facts.yielded ? 0 : silent_tracks_ + 1;
        break;
    case A::StartHere:
    case A::AdoptHere:
        // A request still on its way may yet be answered, late.
        self_answered_ = live_;
        meanwhile_ = false;
        break;
    case A::None:
    case A::StartNothing:
    case A::KeepWaiting:
    case A::PostNotice:
        break;
    }
}

Action Machine::Step(Event event, const Facts& facts) {
    Observe(event, facts);
    for (const Row& row : kRows) {
        if (row.phase != phase_ || row.event != event || !Holds(row.guard, event, facts) ||
            !Holds(row.also, event, facts))
            continue;
        Action action = row.action;
        // One request at a time: while the last one waits for its answer (in
        // the player's queue, or taken and being answered), a new choice only
        // re-aims it; the answer starts the newest.
        const bool reaim = action == A::CommitAndAsk && live_;
        Enter(row, facts);
        return reaim ? A::Commit : action;
    }
    return A::None;
}

const char* Name(Phase phase) {
    static constexpr const char* kNames[] = {"Idle",        "Playing",     "Asked",
                                             "Draining",    "Ended",       "StoppedAsked",
                                             "StoppedLate", "StoppedEnded"};
    return kNames[static_cast<int>(phase)];
}

const char* Name(Event event) {
    static constexpr const char* kNames[] = {"Play",       "Stop",      "Seek", "Query",
                                             "Choice",     "TrackEnd",  "Wait", "Drained",
                                             "OutputLost", "PlayFailed"};
    return kNames[static_cast<int>(event)];
}

const char* Name(Action action) {
    static constexpr const char* kNames[] = {
        "None",         "StartFirst", "StartChosen", "Resume",    "FinishNow",
        "StartNothing", "Release",    "ReleaseKeep", "Suspend",   "Apply",
        "CommitAndAsk", "Commit",     "Choose",      "Finish",    "Drain",
        "StartHere",    "AdoptHere",  "KeepWaiting", "PostNotice"};
    return kNames[static_cast<int>(action)];
}

const char* Name(Guard guard) {
    static constexpr const char* kNames[] = {
        "",           "answer",    "late answer", "play of stop",  "chosen", "next",
        "next alike", "finishing", "meanwhile",   "not meanwhile", "ready",  "notice queued"};
    return kNames[static_cast<int>(guard)];
}

} // namespace handover
