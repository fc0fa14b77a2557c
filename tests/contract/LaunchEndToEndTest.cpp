// A whole run through the real launcher, our elevation runner and /bin/sh,
// with a fake collector in a bundle whose path is as awkward as we could make it.
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

// The fake's timers, with a main queue the launcher's thread may post to.
struct ThreadedMainQueue final : Scheduler {
    RecordingPlatform& fake;
    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::function<void()>> steps;

    explicit ThreadedMainQueue(RecordingPlatform& f)
        : fake(f)
    {
    }
    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override
    {
        return fake.scheduleRepeatingTimer(seconds, std::move(tick));
    }
    void postToMainQueue(std::function<void()> step) override
    {
        std::lock_guard<std::mutex> guard(lock);
        steps.push_back(std::move(step));
        posted.notify_all();
    }
    bool runNext() // on the test's (main) thread
    {
        std::unique_lock<std::mutex> guard(lock);
        if (!posted.wait_for(guard, std::chrono::seconds(60), [this] { return !steps.empty(); }))
            return false;
        auto step = std::move(steps.front());
        steps.pop_front();
        guard.unlock();
        step();
        return true;
    }
};

class LaunchEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the runner would ask for a password through pkexec";
        fake.bundle = scratch / "Case's \"data\" $HOME `x` \\ *" / "-証拠\nフォルダ" / "Kit.app";
        std::filesystem::create_directories(fake.bundle / "Contents/MacOS");
        fake.temporary = scratch / "tmp 'T' $TMPDIR";
        std::filesystem::create_directories(fake.temporary);
        fake.runner = TARNHOLLOW_ELEVATE;
        fake.uid = ::getuid(); // root checks that the progress file is this user's own
        fake.gid = ::getgid();
        fake.uuids = {"3F2A9C1E-7B4D-4E8A-9C0B-5D6E7F8A9B0C"};
    }

    ScratchFolder scratch;
    RecordingPlatform fake;
    ThreadedMainQueue mainQueue{fake};
    PosixTaskLauncher launcher;
    Platform platform{fake, mainQueue, launcher, fake, fake, fake, fake.text()};
};

TEST_F(LaunchEndToEndTest, CollectorRunsAsRootWithItsArgumentsAndWritesOnlyToTheProgressFile)
{
    const auto collector = fake.bundle / contract::collectorInBundle;
    const auto copy = scratch / "progress copy";
    // The progress file is its standard output; a copy outlives the run.
    writeScript(collector, "printf '%s\\0' \"$#\" \"$@\" \"$SUDO_UID\" \"$SUDO_GID\" \"$(id -u)\"\n"
                           "echo 'failure reason' >&2\ncp /proc/$$/fd/1 '" +
                               copy.string() + "'\nexit 3\n");
    fake.collectorSha256 = PosixFileSystem().sha256OfFile(collector);
    auto controller = AppDelegate::create(platform);
    AppDelegateProbe probe(*controller);
    controller->applicationDidFinishLaunching();
    fake.click();
    EXPECT_EQ(fake.status.text, "管理者パスワードを入力してください…");
    EXPECT_FALSE(fake.button.enabled);
    ASSERT_TRUE(mainQueue.runNext()) << "the end of the run never reached the main queue";
    const std::string recorded = readFile(copy);
    EXPECT_EQ(splitNul(recorded), (std::vector<std::string>{"2", "-o", probe.outputDir().string(), "0", "0", "0"}));
    EXPECT_EQ(recorded.substr(recorded.rfind('\0') + 1), "failure reason\n");
    // Its last line is the reason shown; the runner's own complaint is not.
    EXPECT_EQ(controller->currentState(), AppDelegate::State::failed);
    EXPECT_NE(fake.detail.text.find("failure reason\n"), std::string::npos) << fake.detail.text;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fake.temporary), {}), 0);
}

} // namespace
} // namespace tarnhollow

#endif
