// The hand-over machine in memory: each kind of player and each user action
// through a track change, step by step, and the README's table of it.
#include "core/hand_over.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace handover;

// One step: the event at a time (ms from the scenario's start), what the
// host's queue shows, and the action and phase expected.
struct Step {
    Event event;
    Tick at;
    Action action;
    Phase phase;
    bool queued = false; // the restart request still waits in the player's queue
    bool notice = false; // so does the end-of-stream notice
    bool has_next = true;
    bool yielded = true;
    bool same_rate = true;
    bool seek_pending = false;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    Kind kind; // what the machine has learnt of the player at the end
};

Step S(Event event, Tick at, Action action, Phase phase) {
    return Step{event, at, action, phase};
}
Step Queued(Step step) {
    step.queued = true;
    return step;
}
Step NoticeQueued(Step step) {
    step.notice = true;
    return step;
}
Step NoNext(Step step) {
    step.has_next = false;
    return step;
}
Step Silent(Step step) {
    step.yielded = false;
    return step;
}
Step OtherRate(Step step) {
    step.same_rate = false;
    return step;
}
Step SeekPending(Step step) {
    step.seek_pending = true;
    return step;
}

using enum Event;
using enum Phase;
using A = Action;

// Every scenario starts with a play and the first track's end, which asks
// the player to restart at t = 1000 (queued until the player takes it).
const Scenario kScenarios[] = {
    {"the media player answers with stop and play",
     {Queued(S(Query, 1001, A::None, Asked)), S(Query, 1002, A::None, Asked),
      S(Stop, 1003, A::Suspend, StoppedAsked), S(Play, 1004, A::StartChosen, Playing)},
     Kind::StopPlay},
    {"a player answers with a seek; the user's quick stop and play start afresh",
     {S(Seek, 1001, A::Apply, Asked), SeekPending(S(Wait, 1010, A::StartHere, Playing)),
      S(Stop, 5000, A::Release, Idle), S(Play, 5001, A::StartFirst, Playing)},
     Kind::Seek},
    {"a player ignores the request: passed by, then never waited for again",
     {S(Query, 1001, A::None, Asked), S(Wait, 1200, A::KeepWaiting, Asked),
      S(Query, 1600, A::None, Asked), S(Wait, 1610, A::StartHere, Playing),
      S(TrackEnd, 9000, A::CommitAndAsk, Asked), Queued(S(Wait, 9001, A::StartHere, Playing))},
     Kind::Ignore},
    {"a busy player answers late: its stop and play go on where the listener is",
     {Queued(S(Wait, 2999, A::KeepWaiting, Asked)), Queued(S(Wait, 3000, A::StartHere, Playing)),
      S(Stop, 3500, A::Suspend, StoppedLate), S(Play, 3501, A::Resume, Playing)},
     Kind::StopPlay},
    {"the user's stop before the player took the request withdraws it",
     {Queued(S(Stop, 1100, A::Release, Idle)), Queued(S(Play, 1200, A::StartFirst, Playing))},
     Kind::Unknown},
    {"paused and stopped while an ignoring player is asked: a plain stop",
     {S(Query, 1001, A::None, Asked), S(Query, 1700, A::None, Asked),
      S(Stop, 1800, A::Release, Idle), S(Play, 3500, A::StartFirst, Playing)},
     Kind::Ignore},
    {"the answer's stop, then a play long after it, is afresh",
     {S(Stop, 1001, A::Suspend, StoppedAsked), S(Play, 2700, A::StartFirst, Playing)},
     Kind::StopPlay},
    {"an archive with nothing to hear ends after one round of its three tracks",
     {S(Stop, 1001, A::Suspend, StoppedAsked), S(Play, 1002, A::StartChosen, Playing),
      Silent(S(TrackEnd, 1010, A::CommitAndAsk, Asked)), S(Stop, 1011, A::Suspend, StoppedAsked),
      S(Play, 1012, A::StartChosen, Playing), Silent(S(TrackEnd, 1020, A::CommitAndAsk, Asked)),
      S(Stop, 1021, A::Suspend, StoppedAsked), S(Play, 1022, A::StartChosen, Playing),
      Silent(S(TrackEnd, 1100, A::Drain, Draining)), S(Drained, 1200, A::PostNotice, Ended),
      S(Stop, 1300, A::Release, Idle), S(Play, 1301, A::StartFirst, Playing)},
     Kind::StopPlay},
    {"a late answer queued before the end-of-stream notice starts nothing",
     {Queued(S(Wait, 3000, A::StartHere, Playing)), NoNext(S(TrackEnd, 3100, A::Drain, Draining)),
      S(Drained, 3200, A::PostNotice, Ended), NoticeQueued(S(Stop, 3300, A::Suspend, StoppedEnded)),
      NoticeQueued(S(Play, 3301, A::StartNothing, StoppedEnded)), S(Stop, 3302, A::Release, Idle)},
     Kind::Unknown},
    {"every track disabled while asked: the answer ends the stream",
     {Queued(NoNext(S(Choice, 1001, A::Finish, Asked))), S(Stop, 1002, A::Suspend, StoppedAsked),
      S(Play, 1003, A::FinishNow, Idle)},
     Kind::StopPlay},
    {"a choice while asked re-aims the request",
     {Queued(S(Choice, 1001, A::Commit, Asked)), S(Stop, 1002, A::Suspend, StoppedAsked),
      S(Play, 1003, A::StartChosen, Playing)},
     Kind::StopPlay},
    {"the dialog's track plays meanwhile only for a player known to stop and play",
     {S(Stop, 1001, A::Suspend, StoppedAsked), S(Play, 1002, A::StartChosen, Playing),
      S(Choice, 1500, A::CommitAndAsk, Asked), S(Stop, 1501, A::Suspend, StoppedAsked),
      S(Play, 1502, A::StartChosen, Playing), OtherRate(S(Choice, 1600, A::CommitAndAsk, Asked))},
     Kind::StopPlay},
    {"the output will not open for the chosen track: the stream ends",
     {S(Seek, 1001, A::Apply, Asked), S(OutputLost, 1002, A::PostNotice, Ended),
      S(Stop, 1003, A::Release, Idle)},
     Kind::Seek},
    {"a seek while the stream drains brings the track back; not while it finishes",
     {S(Stop, 1001, A::Suspend, StoppedAsked), S(Play, 1002, A::StartChosen, Playing),
      NoNext(S(TrackEnd, 1100, A::Drain, Draining)), S(Seek, 1101, A::Apply, Playing),
      NoNext(S(Choice, 1102, A::Finish, Playing)), S(TrackEnd, 1103, A::Drain, Draining),
      S(Seek, 1104, A::None, Draining)},
     Kind::StopPlay},
};

TEST(HandOverTest, EachKindOfPlayerAndUserActionThroughATrackChange) {
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        Machine machine;
        Facts facts;
        ASSERT_EQ(machine.Step(Play, facts), A::StartFirst);
        facts.now = 1000;
        facts.has_next = true;
        facts.enabled = 3;
        ASSERT_EQ(machine.Step(TrackEnd, facts), A::CommitAndAsk);
        EXPECT_TRUE(machine.RequestLive());
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            Facts at;
            at.now = step.at;
            at.request_queued = step.queued;
            at.notice_queued = step.notice;
            at.same_archive = true;
            at.has_next = step.has_next;
            at.yielded = step.yielded;
            at.enabled = 3;
            at.same_rate = step.same_rate;
            at.seek_pending = step.seek_pending;
            at.heard_ms = 1234;
            SCOPED_TRACE("step " + std::to_string(i) + ": " + Name(step.event));
            EXPECT_EQ(Name(machine.Step(step.event, at)), std::string(Name(step.action)));
            EXPECT_EQ(Name(machine.phase()), std::string(Name(step.phase)));
        }
        EXPECT_EQ(static_cast<int>(machine.kind()), static_cast<int>(scenario.kind));
    }
}

// The README's table of the hand-over is this table, row for row.
std::string Markdown() {
    std::ostringstream out;
    out << "| In | On | If | Then | What the listener gets |\n|---|---|---|---|---|\n";
    for (const Row& row : Table()) {
        if (!*row.says)
            continue;
        std::string guard = Name(row.guard);
        if (row.also != Guard::Always)
            guard += std::string(", ") + Name(row.also);
        out << "| " << Name(row.phase) << " | " << Name(row.event) << " | " << guard << " | "
            << Name(row.next) << " | " << row.says << " |\n";
    }
    return out.str();
}

TEST(HandOverTest, TheReadmeShowsTheTable) {
    std::ifstream readme(std::string(KESTREL_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme) << "no README.md";
    std::stringstream text;
    text << readme.rdbuf();
    const std::string table = Markdown();
    EXPECT_NE(text.str().find(table), std::string::npos)
        << "README.md lacks the hand-over table as it stands; it reads:\n"
        << table;
}

} // namespace
