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

// What a step's facts hold besides its time; by default the restart request
// has been taken from the player's queue, a next track is enabled at the
// output's rate and the track gave audio.
enum : unsigned {
    kQueued = 1,      // the restart request still waits in the player's queue
    kNotice = 2,      // so does the end-of-stream notice
    kNoNext = 4,      // no enabled track to go on with
    kSilent = 8,      // the track ended without a sample heard
    kOtherRate = 16,  // the next track plays at another rate
    kSeekPending = 32 // the host has asked for a seek
};

// One step: the event at a time (ms from the scenario's start), and the
// action and phase expected.
struct Step {
    Event event;
    Tick at;
    Action action;
    Phase phase;
    unsigned facts = 0;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    Kind kind; // what the machine has learnt of the player at the end
};

using enum Event;
using enum Phase;
using A = Action;

// Every scenario starts with a play and the first track's end, which asks
// the player to restart at t = 1000 (queued until the player takes it).
const Scenario kScenarios[] = {
    {"the media player answers with stop and play",
     {{Query, 1001, A::None, Asked, kQueued},
      {Query, 1002, A::None, Asked},
      {Stop, 1003, A::Suspend, StoppedAsked},
      {Play, 1004, A::StartChosen, Playing}},
     Kind::StopPlay},
    {"a player answers with a seek; the user's quick stop and play start afresh",
     {{Seek, 1001, A::Apply, Asked},
      {Wait, 1010, A::StartHere, Playing, kSeekPending},
      {Stop, 5000, A::Release, Idle},
      {Play, 5001, A::StartFirst, Playing}},
     Kind::Seek},
    {"a player ignores the request: passed by, then never waited for again",
     {{Query, 1001, A::None, Asked},
      {Wait, 1200, A::KeepWaiting, Asked},
      {Query, 1600, A::None, Asked},
      {Wait, 1610, A::StartHere, Playing},
      {TrackEnd, 9000, A::CommitAndAsk, Asked},
      {Wait, 9001, A::StartHere, Playing, kQueued}},
     Kind::Ignore},
    {"a busy player answers late: its stop and play go on where the listener is",
     {{Wait, 2999, A::KeepWaiting, Asked, kQueued},
      {Wait, 3000, A::StartHere, Playing, kQueued},
      {Stop, 3500, A::Suspend, StoppedLate},
      {Play, 3501, A::Resume, Playing}},
     Kind::StopPlay},
    {"the user's stop before the player took the request withdraws it",
     {{Stop, 1100, A::Release, Idle, kQueued}, {Play, 1200, A::StartFirst, Playing, kQueued}},
     Kind::Unknown},
    {"paused and stopped while an ignoring player is asked: a plain stop",
     {{Query, 1001, A::None, Asked},
      {Query, 1700, A::None, Asked},
      {Stop, 1800, A::Release, Idle},
      {Play, 3500, A::StartFirst, Playing}},
     Kind::Ignore},
    {"the answer's stop, then a play long after it, is afresh",
     {{Stop, 1001, A::Suspend, StoppedAsked}, {Play, 2700, A::StartFirst, Playing}},
     Kind::StopPlay},
    {"an archive with nothing to hear ends after one round of its three tracks",
     {{Stop, 1001, A::Suspend, StoppedAsked},
      {Play, 1002, A::StartChosen, Playing},
      {TrackEnd, 1010, A::CommitAndAsk, Asked, kSilent},
      {Stop, 1011, A::Suspend, StoppedAsked},
      {Play, 1012, A::StartChosen, Playing},
      {TrackEnd, 1020, A::CommitAndAsk, Asked, kSilent},
      {Stop, 1021, A::Suspend, StoppedAsked},
      {Play, 1022, A::StartChosen, Playing},
      {TrackEnd, 1100, A::Drain, Draining, kSilent},
      {Drained, 1200, A::PostNotice, Ended},
      {Stop, 1300, A::Release, Idle},
      {Play, 1301, A::StartFirst, Playing}},
     Kind::StopPlay},
    {"a late answer queued before the end-of-stream notice starts nothing",
     {{Wait, 3000, A::StartHere, Playing, kQueued},
      {TrackEnd, 3100, A::Drain, Draining, kNoNext},
      {Drained, 3200, A::PostNotice, Ended},
      {Stop, 3300, A::Suspend, StoppedEnded, kNotice},
      {Play, 3301, A::StartNothing, StoppedEnded, kNotice},
      {Stop, 3302, A::Release, Idle}},
     Kind::Unknown},
    {"the user's stop while the notice waits, and a play once it is taken, start afresh",
     {{Stop, 1001, A::Suspend, StoppedAsked},
      {Play, 1002, A::StartChosen, Playing},
      {TrackEnd, 1100, A::Drain, Draining, kNoNext},
      {Drained, 1200, A::PostNotice, Ended},
      {Stop, 1300, A::Suspend, StoppedEnded, kNotice},
      {Play, 1400, A::StartFirst, Playing}},
     Kind::StopPlay},
    {"every track disabled while asked: the answer ends the stream",
     {{Choice, 1001, A::Finish, Asked, kQueued | kNoNext},
      {Stop, 1002, A::Suspend, StoppedAsked},
      {Play, 1003, A::FinishNow, Idle}},
     Kind::StopPlay},
    {"a choice while asked re-aims the request, queued or taken and being answered",
     {{Choice, 1001, A::Commit, Asked, kQueued},
      {Query, 1002, A::None, Asked},
      {Choice, 1003, A::Commit, Asked},
      {Stop, 1004, A::Suspend, StoppedAsked},
      {Play, 1005, A::StartChosen, Playing}},
     Kind::StopPlay},
    {"the dialog's track plays meanwhile only for a player known to stop and play",
     {{Stop, 1001, A::Suspend, StoppedAsked},
      {Play, 1002, A::StartChosen, Playing},
      {Choice, 1500, A::CommitAndAsk, Asked},
      {Stop, 1501, A::Suspend, StoppedAsked},
      {Play, 1502, A::StartChosen, Playing},
      {Choice, 1600, A::CommitAndAsk, Asked, kOtherRate}},
     Kind::StopPlay},
    {"the output will not open for the chosen track: the stream ends",
     {{Seek, 1001, A::Apply, Asked},
      {OutputLost, 1002, A::PostNotice, Ended},
      {Stop, 1003, A::Release, Idle}},
     Kind::Seek},
    {"a seek while the stream drains brings the track back; not while it finishes",
     {{Stop, 1001, A::Suspend, StoppedAsked},
      {Play, 1002, A::StartChosen, Playing},
      {TrackEnd, 1100, A::Drain, Draining, kNoNext},
      {Seek, 1101, A::Apply, Playing},
      {Choice, 1102, A::Finish, Playing, kNoNext},
      {TrackEnd, 1103, A::Drain, Draining},
      {Seek, 1104, A::None, Draining}},
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
            at.request_queued = step.facts & kQueued;
            at.notice_queued = step.facts & kNotice;
            at.same_archive = true;
            at.has_next = !(step.facts & kNoNext);
            at.yielded = !(step.facts & kSilent);
            at.enabled = 3;
            at.same_rate = !(step.facts & kOtherRate);
            at.seek_pending = step.facts & kSeekPending;
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
