// Handles that outlive what opened them: the archive the Sound Info dialog
// loads while nothing plays, and the archive of a track change whose
// playback thread cannot be started. Neither may survive the host's quit.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "platform/standin/testing.h"
#include "support/clocked_host.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using clockedhost::ClockedHost;

class HandleLifetimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* build = std::getenv("KESTREL_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "run through ctest (KESTREL_BUILD_DIR)";
        dir_ = scratch_.Path().string() + "/";
        archive_ = played::BuildNoiseArchive(dir_, {{22050, 0.5}, {22050, 0.4}}, 5);
        module_ = played::LoadPluginCopy(build, dir_);
        ASSERT_NE(module_, nullptr);
        host_ = std::make_unique<ClockedHost>(plugin_record, 50);
        plugin_record.instance = module_;
        handles_ = standin::OpenHandleCount();
        blocks_ = standin::LiveGlobalBlocks();
        standin::ResetFaults();
        standin::ClearMessageBoxes();
    }

    void TearDown() override {
        standin::ResetFaults();
        host_.reset();
        if (module_)
            FreeLibrary(module_);
    }

    mixtest::ScratchDir scratch_;
    std::string dir_;
    played::PlayedArchive archive_;
    HMODULE module_ = nullptr;
    std::unique_ptr<ClockedHost> host_;
    long handles_ = 0;
    long blocks_ = 0;
};

TEST_F(HandleLifetimeTest, QuitClosesTheArchiveTheInfoDialogLoadedWhileNothingPlayed) {
    plugin_record.init();
    bool shown = false;
    standin::SetDialogScript([&](HWND dialog) {
        shown = true;
        SendMessageA(dialog, WM_COMMAND, IDC_CANCEL, 0);
    });
    plugin_record.info_box(archive_.path.c_str(), host_->MainWindow());
    standin::SetDialogScript(nullptr);
    ASSERT_TRUE(shown);
    EXPECT_EQ(player.track_count, 2);
    EXPECT_NE(player.archive_file, INVALID_HANDLE_VALUE); // as the dialog leaves it

    plugin_record.quit();
    EXPECT_EQ(standin::OpenHandleCount(), handles_);
    EXPECT_EQ(standin::LiveGlobalBlocks(), blocks_);
    EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(standin::MessageBoxes().empty());
}

TEST_F(HandleLifetimeTest, TrackChangeWhoseThreadCannotStartClosesTheArchive) {
    plugin_record.init();
    ASSERT_EQ(host_->Play(archive_.path), 0);
    // The host's play that answers the restart request cannot start its thread.
    standin::FailNthCall(standin::Fault::CreateThread, 1);
    ASSERT_TRUE(host_->ServeUntil([&] { return host_->PlayFailures() == 1; }, 5000));
    EXPECT_FALSE(host_->Playing());
    EXPECT_EQ(player.switching_track(), 0);
    EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE);
    // What a stop would let go of is let go of: the next play starts afresh.
    EXPECT_FALSE(host_->Output().IsOpen());
    EXPECT_EQ(player.current_track, 0);
    EXPECT_TRUE(standin::MessageBoxes().empty());

    plugin_record.quit();
    EXPECT_EQ(standin::OpenHandleCount(), handles_);
    EXPECT_EQ(standin::LiveGlobalBlocks(), blocks_);
}

} // namespace
