// Putting the player back as the loaded library has it, between tests.
#pragma once

#include "core/player_state.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

// Ends the player's thread, closes its archive, releases its memory and its
// locks, and leaves every field as at load, before the host's init. Every
// test that drives a player directly starts and ends with it.
void ResetPlayer(PlayerState& p = player);

// A player of the test's own, set up with a scratch folder as the plug-in's
// directory, no faults armed and no boxes recorded; at the end every handle
// it opened must be closed again.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    handmade::ScratchDir scratch;
    PlayerState p;

private:
    long handles_before_ = 0;
};
