// The POSIX task launcher against small fake runners.
#include "platform/posix/PosixTaskLauncher.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tarnhollow {
namespace {

using namespace testing;

class TaskLauncherTest : public ::testing::Test {
protected:
    TaskEnd run(const std::string& body, std::vector<std::string> arguments = {})
    {
        const auto runner = scratch / ("runner-" + std::to_string(++runners));
        writeScript(runner, body);
        auto outcome = launchAndWait(launcher, TaskRequest{runner, std::move(arguments)});
        EXPECT_TRUE(outcome.launch.launched) << outcome.launch.errorDescription;
        EXPECT_TRUE(outcome.end);
        EXPECT_EQ(outcome.end.value_or(TaskEnd{}).calls, 1);
        return outcome.end.value_or(TaskEnd{});
    }

    // Every pipe end of a run is closed once it has ended (the launcher's
    // thread may still be closing them when the end is reported).
    void expectNoDescriptorLeft(std::ptrdiff_t before)
    {
        const auto open = [] { return std::distance(std::filesystem::directory_iterator("/dev/fd"), {}); };
        for (int i = 0; i < 100 && open() > before; ++i)
            ::usleep(10'000);
        EXPECT_LE(open(), before);
    }

    ScratchFolder scratch;
    PosixTaskLauncher launcher;
    int runners = 0;
};

TEST_F(TaskLauncherTest, EndReportsTheStatusAndOnlyTheErrorOutputBytesAsTheyAre)
{
    const auto args = scratch / "args";
    const struct {
        std::string body;
        int32_t status;
        std::string errorOutput;
    } cases[] = {
        {"printf '%s\\0' \"$@\" > '" + args.string() + "'\necho 'to the null device'\nprintf 'a\\nb' >&2\n", 0, "a\nb"},
        {"echo 'execution error: User canceled. (-128)' >&2\nexit 1\n", 1, "execution error: User canceled. (-128)\n"},
        {"printf '\\377\\376(-128)' >&2\nexit 255\n", 255, "\xff\xfe(-128)"},
        {"echo dying >&2\nkill -KILL $$\n", 128 + SIGKILL, "dying\n"}, // a signal reads as the shell reports it
        {"sleep 0.5\necho 'after a quiet spell' >&2\nexit 2\n", 2, "after a quiet spell\n"},
    };
    const auto descriptors = std::distance(std::filesystem::directory_iterator("/dev/fd"), {});
    for (const auto& c : cases) {
        const TaskEnd end = run(c.body, {"-e", "two\nlines", "", "プロンプト"});
        EXPECT_EQ(end.status, c.status) << c.body;
        EXPECT_EQ(end.errorOutput, c.errorOutput) << c.body;
    }
    expectNoDescriptorLeft(descriptors);
    EXPECT_EQ(splitNul(readFile(args)), (std::vector<std::string>{"-e", "two\nlines", "", "プロンプト"}));
}

TEST_F(TaskLauncherTest, RunnerThatCannotStartIsReportedAndNeverEnds)
{
    const auto descriptors = std::distance(std::filesystem::directory_iterator("/dev/fd"), {});
    const auto plain = scratch / "not executable";
    writeFile(plain, "#!/bin/sh\nexit 0\n");
    for (const auto& [runner, error] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {scratch / "no such runner", "no such runner: No such file"},
             {plain, "Permission denied"},
             {scratch.path(), ""}}) {
        auto outcome = launchAndWait(launcher, TaskRequest{runner, {}});
        EXPECT_FALSE(outcome.launch.launched);
        EXPECT_NE(outcome.launch.errorDescription.find(error), std::string::npos) << outcome.launch.errorDescription;
        EXPECT_FALSE(outcome.launch.errorDescription.empty());
        EXPECT_FALSE(outcome.end);
    }
    expectNoDescriptorLeft(descriptors);
}

TEST_F(TaskLauncherTest, HugeErrorOutputArrivesWholeWithoutBlockingTheRunner)
{
    // Far more than a pipe holds, written before the runner ends.
    const TaskEnd end = run("seq 1 800000 >&2\nexit 4\n");
    EXPECT_EQ(end.status, 4);
    std::string expected;
    for (int i = 1; i <= 800000; ++i)
        expected += std::to_string(i) + "\n";
    EXPECT_EQ(end.errorOutput.size(), expected.size());
    EXPECT_TRUE(end.errorOutput == expected);
}

TEST_F(TaskLauncherTest, GrandchildHoldingThePipeDoesNotHoldUpTheEnd)
{
    const auto pidFile = scratch / "grandchild";
    const TaskEnd end = run("sleep 300 >&2 &\necho $! > '" + pidFile.string() + "'\necho 'before' >&2\nexit 6\n");
    EXPECT_EQ(end.status, 6);
    EXPECT_EQ(end.errorOutput, "before\n");
    const pid_t grandchild = std::stoi(readFile(pidFile));
    EXPECT_EQ(::kill(grandchild, 0), 0) << "the grandchild should still be running";
    ::kill(grandchild, SIGKILL);
}

TEST_F(TaskLauncherTest, RunnerSeesNoDescriptorOfOursAndWritesNothingToOurOutput)
{
    const int inherited = ::open("/dev/null", O_RDONLY); // the careless way, as some library might
    ASSERT_GT(inherited, 2);
    const TaskEnd end = run("for fd in " + std::to_string(inherited) +
                            " 3 4 5 6 7 8 9; do [ -e /proc/$$/fd/$fd ] && echo \"open: $fd\" >&2; done\n"
                            "echo \"$(readlink /proc/$$/fd/1)\" >&2\nexit 0\n");
    ::close(inherited);
    EXPECT_EQ(end.errorOutput, "/dev/null\n");
}

} // namespace
} // namespace tarnhollow
