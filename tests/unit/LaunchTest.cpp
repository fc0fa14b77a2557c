// Starting a run against the recording fake: screen, progress file, the
// runner's request, the poll timer, launch failure and the hand-over of the
// runner's end to the main queue.
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;
using State = AppDelegate::State;
using Log = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr const char* exampleUUID = "3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C";

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.temporary = temporary;
        fake.bundle = "/Users/analyst/Case's data/Kit.app";
        fake.uuids = {exampleUUID};
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        controller->applicationDidFinishLaunching();
        fake.takeLog();
    }

    // The run's file, in the one private folder the run made.
    fs::path progressFile(const std::string& uuid) const
    {
        std::vector<fs::path> folders{fs::directory_iterator(temporary), {}};
        return folders.size() == 1 ? folders[0] / ("tarnhollow-" + uuid + ".out") : fs::path();
    }

    testing::ScratchFolder scratch;
    fs::path temporary = scratch.path();
    RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;
};

TEST_F(LaunchTest, StartShowsTheRunningScreenThenLaunchesThenSchedulesThePoll)
{
    fake.clock += std::chrono::milliseconds(1500);
    fake.click();

    EXPECT_EQ(fake.takeLog(), (Log{"status.setStringValue: 管理者パスワードを入力してください…",
                                   "detail.setStringValue: 保存先: /Users/analyst/Case's data",
                                   "bar.setHidden: NO", "bar.setIndeterminate: YES", "bar.startAnimation",
                                   "button.setTitle: 収集中…", "button.setEnabled: NO",
                                   "task.launch: /usr/bin/osascript", "timer.schedule: 0.5"}));
    EXPECT_EQ(controller->currentState(), State::running);
    EXPECT_EQ(probe->startDate(), fake.clock);

    const fs::path progress = progressFile(exampleUUID);
    EXPECT_EQ(probe->progressURL(), progress);
    ASSERT_TRUE(fs::is_regular_file(progress));
    EXPECT_EQ(fs::file_size(progress), 0u);

    ASSERT_EQ(fake.launches.size(), 1u);
    const TaskRequest& request = fake.launches[0];
    EXPECT_EQ(request.executable, "/usr/bin/osascript");
    ASSERT_EQ(request.arguments.size(), 4u);
    EXPECT_EQ(request.arguments[0], "-e");
    EXPECT_EQ(request.arguments[1].size(), 112u);
    // The data root works on, quoted, ahead of the fixed script.
    EXPECT_EQ(request.arguments[2].rfind("set -- '" + std::string(64, 'c') +
                                             "' '/Users/analyst/Case'\\''s data/Kit.app/Contents/MacOS/tarnhollow' "
                                             "'/Users/analyst/Case'\\''s data' '" +
                                             progress.parent_path().string() + "' 'tarnhollow-" + exampleUUID +
                                             ".out' '501' '20' ",
                                         0),
              0u)
        << request.arguments[2];
    EXPECT_EQ(fs::status(progress.parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(progress).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(request.arguments[3].rfind("Tarnhollow が", 0), 0u);
    EXPECT_EQ(fake.liveTimers(), 1);
    EXPECT_TRUE(fake.taskRunning());

    // Pressing again during the run does nothing.
    fake.click();
    EXPECT_EQ(fake.launches.size(), 1u);
}

TEST_F(LaunchTest, FirstPollComesHalfASecondAfterTheLaunch)
{
    fake.click();
    fake.takeLog();
    std::ofstream(progressFile(exampleUUID)) << "Collecting 統合ログ (2/9)\n";

    fake.advance(0.499);
    EXPECT_EQ(fake.takeLog(), Log{});
    EXPECT_EQ(fake.status.text, "管理者パスワードを入力してください…");

    fake.advance(0.001);
    EXPECT_NE(fake.takeLog(), Log{});
    EXPECT_NE(fake.detail.text.find("統合ログ"), std::string::npos);
}

TEST_F(LaunchTest, EachRunGetsItsOwnProgressFile)
{
    fake.click();
    const auto first = probe->progressURL();
    fake.endTask(1, "execution error: User canceled. (-128)");
    fake.runMainQueue();
    ASSERT_EQ(controller->currentState(), State::ready);

    fake.click();
    const auto second = probe->progressURL();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(second->parent_path().parent_path(), temporary);
    EXPECT_NE(first->parent_path(), second->parent_path());
    EXPECT_FALSE(fs::exists(first->parent_path())) << "the first run's folder went with its file";
    EXPECT_TRUE(fs::exists(*second));
    EXPECT_EQ(fake.uuidsHandedOut, 2);
}

TEST_F(LaunchTest, LaunchFailureEndsTheRunAtOnceAndLeavesTheEmptyProgressFile)
{
    fake.nextLaunch = {false, "elevate: No such file or directory"};
    const Date started = fake.clock;
    fake.click();
    const Log log = fake.takeLog();
    ASSERT_GE(log.size(), 8u);
    EXPECT_EQ(log[7], "task.launch: /usr/bin/osascript");
    EXPECT_EQ(std::count(log.begin(), log.end(), "timer.schedule: 0.5"), 0);
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.detail.text.rfind("収集を開始できませんでした: elevate: No such file or directory\n", 0), 0u)
        << fake.detail.text;
    EXPECT_EQ(probe->startDate(), started);
    EXPECT_EQ(probe->progressURL(), progressFile(exampleUUID));
    EXPECT_TRUE(fs::exists(progressFile(exampleUUID)));
    EXPECT_EQ(fake.liveTimers(), 0);
    fake.advance(5);
    EXPECT_EQ(fake.takeLog(), Log{});
}

TEST_F(LaunchTest, NoPasswordIsAskedWhenTheRunCannotBePreparedSafely)
{
    const auto relative = fs::relative(temporary, fs::current_path());
    struct Case {
        std::function<void()> arrange;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {[&] { fake.failCreate = true; }, "一時フォルダーに進捗ファイルを作成できません"},
        {[&] { fake.temporary = temporary / "missing"; }, "一時フォルダーに進捗ファイルを作成できません"},
        {[&] { fake.collectorSha256.reset(); }, "アプリ内の収集ツールを読み取れません"},
    };
    for (const auto& c : cases) {
        c.arrange();
        auto run = AppDelegate::create(platform);
        AppDelegateProbe(*run).start();
        EXPECT_EQ(run->currentState(), State::failed);
        EXPECT_EQ(fake.detail.text.rfind("収集を開始できませんでした: " + c.reason + "\n", 0), 0u) << fake.detail.text;
        EXPECT_TRUE(fake.launches.empty());
        EXPECT_TRUE(fs::is_empty(temporary)) << "nothing is left behind";
        fake.failCreate = false;
        fake.collectorSha256 = std::string(64, 'c');
        fake.temporary = temporary;
    }

    // A relative temporary folder is taken from here, never from root's own
    // working folder.
    fake.temporary = relative;
    auto run = AppDelegate::create(platform);
    AppDelegateProbe probe(*run);
    probe.start();
    ASSERT_TRUE(probe.progressURL());
    EXPECT_TRUE(probe.progressURL()->is_absolute());
    EXPECT_TRUE(fs::equivalent(probe.progressURL()->parent_path().parent_path(), temporary));
}

TEST_F(LaunchTest, RunnerEndReachesTheControllerOnlyThroughTheMainQueue)
{
    fake.click();
    fake.takeLog();
    fake.endTask(0, "");
    EXPECT_EQ(controller->currentState(), State::running);
    EXPECT_EQ(fake.takeLog(), Log{});
    EXPECT_EQ(fake.pendingMainQueueSteps(), 1u);

    fake.runMainQueue();
    EXPECT_EQ(controller->currentState(), State::done);
    EXPECT_FALSE(fs::exists(progressFile(exampleUUID)));
}

TEST_F(LaunchTest, ErrorOutputIsHandedOnWholeAsTextOrElseEmpty)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  シェル: 失敗しました  \n", "シェル: 失敗しました\n"},
        // Not UTF-8: handed on empty, so not even read as a cancellation.
        {"\xff (-128)", "\nログがあれば"},
    };
    for (const auto& [errorOutput, detailStart] : cases) {
        auto run = AppDelegate::create(platform);
        AppDelegateProbe(*run).start();
        fake.endTask(2, errorOutput);
        fake.runMainQueue();
        EXPECT_EQ(run->currentState(), State::failed);
        EXPECT_EQ(fake.detail.text.rfind(detailStart, 0), 0u) << fake.detail.text;
    }
}

// A launcher that accepts the run and forgets it, so that nothing but the
// test holds the controller.
class ForgettingLauncher final : public TaskLauncher {
public:
    LaunchResult launch(const TaskRequest&, TerminationHandler) override { return {true, {}}; }
};

TEST_F(LaunchTest, TimerDoesNothingOnceTheControllerIsGone)
{
    ForgettingLauncher launcher;
    Platform forgetting{fake, fake, launcher, fake, fake, fake, fake.text()};
    auto alone = AppDelegate::create(forgetting);
    AppDelegateProbe(*alone).start();
    ASSERT_EQ(fake.liveTimers(), 1);
    const fs::path progress = *AppDelegateProbe(*alone).progressURL();
    std::weak_ptr<AppDelegate> watch = alone;
    alone.reset();
    ASSERT_TRUE(watch.expired()) << "the timer must not keep the controller alive";
    fake.takeLog();
    std::ofstream(progress) << "Collecting x (1/1)\n";
    fake.advance(2);
    EXPECT_EQ(fake.takeLog(), Log{});
}

} // namespace
} // namespace tarnhollow
