#include "support/reset_player.h"
#include "platform/standin/testing.h"

#include <memory>

void ResetPlayer(PlayerState& p) {
    p.StopThread();
    if (p.archive_file != INVALID_HANDLE_VALUE && p.archive_file != nullptr)
        CloseHandle(p.archive_file);
    p.FreePlayer();
    // With no thread left, FreePlayer has let go of the locks and the event
    // too: nothing of the old player is owned any more.
    std::destroy_at(&p);
    std::construct_at(&p);
}

void PlayerTest::SetUp() {
    handles_before_ = standin::OpenHandleCount();
    p.InitPlayer(nullptr, scratch.Dir().c_str());
    standin::ResetFaults();
    standin::ClearMessageBoxes();
}

void PlayerTest::TearDown() {
    standin::ResetFaults();
    ResetPlayer(p);
    EXPECT_EQ(standin::OpenHandleCount(), handles_before_) << "a handle was left open";
}
