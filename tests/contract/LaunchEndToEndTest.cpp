// A whole run through the real launcher, our elevation runner and /bin/sh,
// with a fake collector inside a bundle whose path is as awkward as we
// could make it.
#include "collector/Contract.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "tests/contract/ContractSupport.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#ifdef TARNHOLLOW_ELEVATE

namespace tarnhollow {
namespace {

using namespace testing;
using State = AppDelegate::State;

// The recording fake's timers, with a main queue that other threads may
// post to, as the launcher's thread does.
class ThreadedMainQueue final : public Scheduler {
public:
    explicit ThreadedMainQueue(RecordingPlatform& fake) : fake_(fake) {}

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override
    {
        return fake_.scheduleRepeatingTimer(seconds, std::move(tick));
    }
    void postToMainQueue(std::function<void()> step) override
    {
        std::lock_guard<std::mutex> guard(lock_);
        steps_.push_back(std::move(step));
        posted_.notify_all();
    }
    // Runs the next step on this (the test's main) thread.
    bool runNext()
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (!posted_.wait_for(guard, std::chrono::seconds(60), [this] { return !steps_.empty(); }))
            return false;
        auto step = std::move(steps_.front());
        steps_.pop_front();
        guard.unlock();
        step();
        return true;
    }

private:
    RecordingPlatform& fake_;
    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> steps_;
};

class LaunchEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the runner would ask for a password through pkexec";
        const auto bundle = scratch / "Case's \"data\" $HOME `x` \\ *" / "-証拠\nフォルダ" / "Kit.app";
        std::filesystem::create_directories(bundle / "Contents/MacOS");
        collector = bundle / contract::collectorInBundle;
        fake.bundle = bundle;
        fake.temporary = scratch / "tmp 'T' $TMPDIR";
        std::filesystem::create_directories(fake.temporary);
        fake.runner = TARNHOLLOW_ELEVATE;
        // Root checks that the progress file is this user's own.
        fake.uid = ::getuid();
        fake.gid = ::getgid();
        fake.uuids = {"3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C"};
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        controller->applicationDidFinishLaunching();
    }

    void TearDown() override { controller.reset(); }

    ScratchFolder scratch;
    RecordingPlatform fake;
    ThreadedMainQueue mainQueue{fake};
    PosixTaskLauncher launcher;
    Platform platform{fake, mainQueue, launcher, fake, fake, fake, fake.text()};
    std::filesystem::path collector;
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;
};

TEST_F(LaunchEndToEndTest, CollectorRunsAsRootWithItsArgumentsAndWritesOnlyToTheProgressFile)
{
    const auto copy = scratch / "progress copy";
    // The collector sees the progress file as its standard output; it
    // copies what it wrote there so the test can read it after the run.
    writeScript(collector, "printf '%s\\0' \"$#\" \"$@\" \"$SUDO_UID\" \"$SUDO_GID\" \"$(id -u)\"\n"
                           "echo 'failure reason' >&2\n"
                           "cp /proc/$$/fd/1 '" + copy.string() + "'\n"
                           "exit 3\n");
    fake.collectorSha256 = PosixFileSystem().sha256OfFile(collector);
    fake.click();
    EXPECT_EQ(fake.status.text, "管理者パスワードを入力してください…");
    EXPECT_FALSE(fake.button.enabled);
    ASSERT_TRUE(mainQueue.runNext()) << "the end of the run never reached the main queue";
    const std::string recorded = readFile(copy);
    EXPECT_EQ(splitNul(recorded), (std::vector<std::string>{"2", "-o", probe->outputDir().string(), "0", "0", "0"}));
    EXPECT_EQ(recorded.substr(recorded.rfind('\0') + 1), "failure reason\n");
    // Its last line is the reason shown; the runner's own complaint is not.
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_NE(fake.detail.text.find("failure reason\n"), std::string::npos) << fake.detail.text;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fake.temporary), {}), 0);
}

TEST_F(LaunchEndToEndTest, MissingRunnerFailsAtOnceAndLeavesTheProgressFile)
{
    controller.reset();
    fake.runner = scratch / "Contents/Helpers/elevate";
    controller = AppDelegate::create(platform);
    AppDelegateProbe probe(*controller);
    probe.start();
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.detail.text.rfind("収集を開始できませんでした: " + fake.runner.string() + ": No such file", 0), 0u)
        << fake.detail.text;
    ASSERT_TRUE(probe.progressURL());
    EXPECT_EQ(readFile(*probe.progressURL()), "");
    EXPECT_EQ(fake.liveTimers(), 0);
}

} // namespace
} // namespace tarnhollow

#endif
