// The ready and failure screens, and the button in every state.
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;
using State = AppDelegate::State;
using Log = std::vector<std::string>;

class ScreensTest : public ::testing::Test {
protected:
    RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller = AppDelegate::create(platform);
    AppDelegateProbe probe{*controller};
};

TEST_F(ScreensTest, CreationMakesControlsAndDecidesTheFolderWithoutTouchingTheScreen)
{
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(controller->currentState(), State::ready);
    EXPECT_EQ(probe.outputDir(), "/Users/analyst");
    EXPECT_EQ(probe.startDate(), fake.clock);
    EXPECT_FALSE(probe.hasWindow());
}

TEST_F(ScreensTest, LaunchBuildsMenuThenWindowThenReadyScreenThenActivates)
{
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(fake.takeLog(),
              (Log{"toolkit.setupMenu", "toolkit.setupWindow",
                   "status.setStringValue: この Mac からフォレンジック調査用のアーティファクトを収集します",
                   "detail.setStringValue: 開始すると管理者パスワードを求めます。\n保存先: /Users/analyst",
                   "bar.setHidden: YES", "button.setTitle: 収集を開始", "button.setEnabled: YES",
                   "toolkit.activateIgnoringOtherApps"}));
    EXPECT_TRUE(probe.hasWindow());
    EXPECT_TRUE(controller->applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(ScreensTest, ReadyScreenUsesTheMessageEvenWhenEmpty)
{
    probe.state() = State::running;
    probe.setReady(std::string("キャンセルしました"));
    EXPECT_EQ(controller->currentState(), State::ready);
    EXPECT_EQ(fake.takeLog(),
              (Log{"status.setStringValue: キャンセルしました",
                   "detail.setStringValue: 開始すると管理者パスワードを求めます。\n保存先: /Users/analyst",
                   "bar.setHidden: YES", "button.setTitle: 収集を開始", "button.setEnabled: YES"}));

    probe.setReady(std::string());
    EXPECT_EQ(fake.takeLog().front(), "status.setStringValue: ");
}

TEST_F(ScreensTest, FailureScreenSetsAllFourControlsInOrder)
{
    probe.state() = State::running;
    probe.fail("ディスクがいっぱいです");
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.takeLog(),
              (Log{"bar.stopAnimation", "bar.setHidden: YES", "status.setStringValue: 収集に失敗しました",
                   "detail.setStringValue: ディスクがいっぱいです\nログがあれば保存先を確認してください: /Users/analyst",
                   "button.setTitle: 保存先を開く", "button.setEnabled: YES"}));

    probe.fail("");
    EXPECT_EQ(fake.detail.text, "\nログがあれば保存先を確認してください: /Users/analyst");
}

TEST_F(ScreensTest, ButtonDoesNothingWhileRunning)
{
    probe.state() = State::running;
    controller->buttonPressed();
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(controller->currentState(), State::running);
}

TEST_F(ScreensTest, ButtonOpensTheOutputFolderAfterAFailureEveryTime)
{
    probe.fail("x");
    fake.takeLog();
    controller->buttonPressed();
    controller->buttonPressed();
    EXPECT_EQ(fake.takeLog(), (Log{"workspace.openURL: /Users/analyst", "workspace.openURL: /Users/analyst"}));
    EXPECT_EQ(controller->currentState(), State::failed);
}

class ButtonInDoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(folder);
        fake.bundle = folder / "Tarnhollow.app";
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        probe->state() = State::done;
    }

    std::filesystem::path writeZip(const std::string& name, int secondsAfterStart)
    {
        auto path = folder / name;
        std::ofstream(path) << "PK";
        std::filesystem::last_write_time(
            path, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(secondsAfterStart));
        return path;
    }

    RecordingPlatform fake;
    Platform platform = fake.platform();
    testing::ScratchFolder scratch;
    const std::filesystem::path folder = scratch / "保存先 folder";
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;
};

TEST_F(ButtonInDoneTest, RevealsTheNewestArchiveLookingAgainOnEveryPress)
{
    probe->startDate() = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()) -
                         std::chrono::seconds(10);
    auto first = writeZip("first.zip", 0);
    controller->buttonPressed();
    EXPECT_EQ(fake.takeLog(), (Log{"workspace.activateFileViewerSelectingURLs: " + first.string()}));

    auto newer = writeZip("newer.zip", 5);
    controller->buttonPressed();
    EXPECT_EQ(fake.takeLog(), (Log{"workspace.activateFileViewerSelectingURLs: " + newer.string()}));

    std::filesystem::remove(first);
    std::filesystem::remove(newer);
    controller->buttonPressed();
    EXPECT_EQ(fake.takeLog(), (Log{"workspace.openURL: " + folder.string()}));
    EXPECT_EQ(controller->currentState(), State::done);
}

} // namespace
} // namespace tarnhollow
