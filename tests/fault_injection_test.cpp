// Every failure the platform can hand the plug-in, one at a time: a scripted
// session (init, play, a track change, a seek, "Done" in the Sound Info
// dialog, stop, quit) is first run clean to count the calls of one kind, then
// once for every N with the N-th call of that kind failing. Each run must end
// in play's failure result or the message boxes the plug-in documents, never
// in a crash, a hang or a leaked handle or block, and a normal play
// afterwards must hear the track exactly.
#include "core/entry_points.h"
#include "core/player_state.h"
#include "core/plugin_record.h"
#include "dialogs/resource_ids.h"
#include "platform/standin/testing.h"
#include "support/clocked_host.h"
#include "support/mix_fixtures.h"
#include "support/played_archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using clockedhost::ClockedHost;
using standin::Fault;

constexpr double kClockSpeed = 50;
constexpr int kCallLimitMs = 1000;
constexpr int kStepTimeoutMs = 3000;
constexpr const char* kNotValid = "Not a valid Kestrel MIX file!";

// What the sweep makes fail: one of the stand-in's kinds, or the output
// device's open.
struct FaultKind {
    const char* name;
    bool output_open;
    Fault fault;
};

std::string BuildDir() {
    const char* dir = std::getenv("KESTREL_BUILD_DIR");
    return dir ? dir : "";
}

class FaultInjectionTest : public ::testing::TestWithParam<FaultKind> {
protected:
    static void SetUpTestSuite() {
        scratch_ = new mixtest::ScratchDir;
        dir_ = scratch_->Path().string() + "/";
        // Two rates, so that a track change also reopens the output.
        archive_ = new played::PlayedArchive(
            played::BuildNoiseArchive(dir_, {{22050, 1.0}, {11025, 0.6}, {22050, 0.8}}, 11));
        module_ = played::LoadPluginCopy(BuildDir(), dir_);
    }

    static void TearDownTestSuite() {
        if (module_)
            FreeLibrary(module_);
        delete archive_;
        delete scratch_;
    }

    void SetUp() override {
        ASSERT_NE(module_, nullptr) << "no plug-in module to load (KESTREL_BUILD_DIR)";
        host_ = std::make_unique<ClockedHost>(plugin_record, kClockSpeed);
        plugin_record.instance = module_;
        watchdog_ = std::make_unique<played::Watchdog>(kCallLimitMs);
        host_->SetCallHooks([this](const char* what) { watchdog_->Enter(what); },
                            [this] { watchdog_->Leave(); });
        handles_ = standin::OpenHandleCount();
        blocks_ = standin::LiveGlobalBlocks();
    }

    void TearDown() override {
        standin::ResetFaults();
        watchdog_.reset();
        host_.reset();
    }

    template <typename Action> void Call(const char* what, Action action) {
        watchdog_->Enter(what);
        action();
        watchdog_->Leave();
    }

    // The index path the plug-in builds, as the "Missing file" box shows it.
    static std::string IndexPath() {
        std::string path = dir_ + "Juniper.MIX";
        for (char& c : path)
            if (c == '/')
                c = '\\';
        return path;
    }

    void DeselectCurrentTrack() {
        int current = player.current_track;
        standin::SetDialogScript([current](HWND dialog) {
            LVITEMA item{};
            item.stateMask = LVIS_SELECTED;
            SendMessageA(GetDlgItem(dialog, IDC_TRACK_LIST), LVM_SETITEMSTATE,
                         static_cast<WPARAM>(current), reinterpret_cast<LPARAM>(&item));
            SendMessageA(dialog, WM_COMMAND, IDC_DONE, 0);
        });
        Call("info_box",
             [&] { plugin_record.info_box(archive_->path.c_str(), host_->MainWindow()); });
        standin::SetDialogScript(nullptr);
    }

    // The whole session; what failed along the way shows in its results.
    void RunScript() {
        Call("init", [] { plugin_record.init(); });
        const std::size_t sessions = host_->Sessions().size();
        auto changed = [&](std::size_t more) {
            return [this, sessions, more] {
                return !host_->Playing() || host_->Sessions().size() >= sessions + more;
            };
        };
        if (host_->Play(archive_->path) == 0) {
            host_->ServeUntil(
                [&] { return !host_->Playing() || host_->Output().BytesWritten() > 4096; },
                kStepTimeoutMs);
            // Close to the end of the first track, which then hands over.
            Call("set_output_time", [] { plugin_record.set_output_time(700); });
            host_->ServeUntil(changed(1), kStepTimeoutMs);
            DeselectCurrentTrack();
            host_->ServeUntil(changed(2), kStepTimeoutMs);
            // The new track plays to its end and hands over in turn.
            host_->ServeUntil(changed(3), kStepTimeoutMs);
        }
        host_->Settle();
        Call("quit", [] { plugin_record.quit(); });
    }

    // How the run may end: only the boxes the plug-in documents, and nothing
    // left open or allocated.
    void ExpectCleanEnd(const std::string& run) {
        for (const standin::MessageBoxRecord& box : standin::MessageBoxes()) {
            bool not_valid = box.text == kNotValid && box.caption == "Error";
            bool missing = box.text == IndexPath() && box.caption == "Missing file";
            EXPECT_TRUE(not_valid || missing)
                << run << ": box '" << box.caption << "': '" << box.text << "'";
            EXPECT_EQ(box.flags, static_cast<UINT>(MB_OK | MB_ICONWARNING)) << run;
            EXPECT_EQ(box.owner, nullptr) << run;
        }
        EXPECT_FALSE(host_->Playing()) << run;
        EXPECT_EQ(player.archive_file, INVALID_HANDLE_VALUE) << run;
        EXPECT_EQ(player.switching_track(), 0) << run;
        EXPECT_EQ(standin::OpenHandleCount(), handles_) << run << ": handles left open";
        EXPECT_EQ(standin::LiveGlobalBlocks(), blocks_) << run << ": GlobalAlloc blocks not freed";
        EXPECT_EQ(host_->Output().Violations(), 0) << run;
    }

    // A plain play after the run: the track play starts with is heard exactly,
    // up to the flush that hands over to the next track.
    void ExpectNormalPlay(const std::string& run) {
        standin::ResetFaults();
        host_->Output().FailOpen(0);
        standin::ClearMessageBoxes();
        Call("init", [] { plugin_record.init(); });
        // Whatever the failed run went through, the next play starts afresh.
        EXPECT_EQ(player.current_track, 0) << run;
        const int track = 0;
        host_->Output().TakeWritten(nullptr);
        const std::size_t sessions = host_->Sessions().size();
        ASSERT_EQ(host_->Play(archive_->path), 0) << run;
        ASSERT_TRUE(host_->ServeUntil([&] { return host_->Sessions().size() > sessions + 1; },
                                      kStepTimeoutMs))
            << run << ": the first track never handed over";
        host_->Settle();
        Call("quit", [] { plugin_record.quit(); });
        std::vector<std::size_t> flushes;
        std::vector<char> heard = host_->Output().TakeWritten(&flushes);
        ASSERT_FALSE(flushes.empty()) << run;
        const std::vector<std::int16_t>& want = archive_->extractions[track];
        ASSERT_EQ(flushes[0], want.size() * 2) << run << ": heard a different length";
        EXPECT_EQ(std::memcmp(heard.data(), want.data(), flushes[0]), 0) << run;
        EXPECT_TRUE(standin::MessageBoxes().empty()) << run;
        EXPECT_EQ(standin::OpenHandleCount(), handles_) << run;
        EXPECT_EQ(standin::LiveGlobalBlocks(), blocks_) << run;
    }

    long CallsOfKind(const FaultKind& kind, int opens_before) {
        return kind.output_open ? host_->Output().Opens() - opens_before
                                : standin::CallCount(kind.fault);
    }

    static mixtest::ScratchDir* scratch_;
    static std::string dir_;
    static played::PlayedArchive* archive_;
    static HMODULE module_;

    std::unique_ptr<ClockedHost> host_;
    std::unique_ptr<played::Watchdog> watchdog_;
    long handles_ = 0;
    long blocks_ = 0;
};

mixtest::ScratchDir* FaultInjectionTest::scratch_ = nullptr;
std::string FaultInjectionTest::dir_;
played::PlayedArchive* FaultInjectionTest::archive_ = nullptr;
HMODULE FaultInjectionTest::module_ = nullptr;

TEST_P(FaultInjectionTest, EveryFailingCallEndsCleanlyAndPlayWorksAfterwards) {
    const FaultKind kind = GetParam();

    // The clean run: no boxes, and how many calls of the kind it makes.
    standin::ResetFaults();
    standin::ClearMessageBoxes();
    int opens = host_->Output().Opens();
    RunScript();
    const long count = CallsOfKind(kind, opens);
    ASSERT_GT(host_->Sessions().size(), 2u) << "the clean run never changed track twice";
    EXPECT_TRUE(standin::MessageBoxes().empty());
    ExpectCleanEnd("clean run");
    ASSERT_GT(count, 0) << kind.name << " is never called";

    int failed_plays = 0;
    for (long n = 1; n <= count; ++n) {
        const std::string run = std::string(kind.name) + " call " + std::to_string(n) + " of " +
                                std::to_string(count) + " failing";
        standin::ResetFaults();
        standin::ClearMessageBoxes();
        if (kind.output_open)
            host_->Output().FailOpen(static_cast<int>(n));
        else
            standin::FailNthCall(kind.fault, n);
        int failures = host_->PlayFailures();
        RunScript();
        failed_plays += host_->PlayFailures() - failures;
        ExpectCleanEnd(run);
        ExpectNormalPlay(run);
        if (HasFatalFailure() || ::testing::Test::HasFailure())
            break;
    }
    std::printf("fault sweep: %s, %ld runs, %d of them with a failed play\n", kind.name, count,
                failed_plays);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultInjectionTest,
                         ::testing::Values(FaultKind{"ReadFile", false, Fault::ReadFile},
                                           FaultKind{"GlobalAlloc", false, Fault::GlobalAlloc},
                                           FaultKind{"CreateFileA", false, Fault::CreateFileA},
                                           FaultKind{"CreateThread", false, Fault::CreateThread},
                                           FaultKind{"OutputOpen", true, Fault::Count}),
                         [](const ::testing::TestParamInfo<FaultKind>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
