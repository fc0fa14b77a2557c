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
    LaunchOutcome run(const std::string& body, std::vector<std::string> arguments = {})
    {
        const auto runner = scratch / ("runner-" + std::to_string(++runners));
        writeScript(runner, body);
        return launchAndWait(launcher, TaskRequest{runner, std::move(arguments)});
    }

    ScratchFolder scratch;
    PosixTaskLauncher launcher;
    int runners = 0;
};

TEST_F(TaskLauncherTest, EndReportsStatusAndOnlyTheErrorOutput)
{
    const auto args = scratch / "args";
    auto outcome = run("printf '%s\\0' \"$@\" > '" + args.string() +
                           "'\necho 'to the null device'\nprintf 'line 1\\nline 2' >&2\n",
                       {"-e", "two\nlines", "", "プロンプト"});
    ASSERT_TRUE(outcome.launch.launched) << outcome.launch.errorDescription;
    ASSERT_TRUE(outcome.end);
    EXPECT_EQ(outcome.end->status, 0);
    EXPECT_EQ(outcome.end->errorOutput, "line 1\nline 2");
    EXPECT_EQ(outcome.end->calls, 1);
    EXPECT_EQ(splitNul(readFile(args)), (std::vector<std::string>{"-e", "two\nlines", "", "プロンプト"}));
}

TEST_F(TaskLauncherTest, FailuresAndCancellationKeepTheirStatusAndText)
{
    auto cancelled = run("echo 'execution error: User canceled. (-128)' >&2\nexit 1\n");
    ASSERT_TRUE(cancelled.end);
    EXPECT_EQ(cancelled.end->status, 1);
    EXPECT_EQ(cancelled.end->errorOutput, "execution error: User canceled. (-128)\n");

    auto failed = run("printf '収集ツールが失敗しました\\n' >&2\nexit 3\n");
    ASSERT_TRUE(failed.end);
    EXPECT_EQ(failed.end->status, 3);
    EXPECT_EQ(failed.end->errorOutput, "収集ツールが失敗しました\n");

    // Bytes pass as they are; deciding what is text is the controller's job.
    auto binary = run("printf '\\377\\376(-128)' >&2\nexit 255\n");
    ASSERT_TRUE(binary.end);
    EXPECT_EQ(binary.end->status, 255);
    EXPECT_EQ(binary.end->errorOutput, "\xff\xfe(-128)");

    auto killed = run("echo dying >&2\nkill -KILL $$\n");
    ASSERT_TRUE(killed.end);
    EXPECT_EQ(killed.end->status, 128 + SIGKILL) << "a signal reads as the shell reports it";
    EXPECT_EQ(killed.end->errorOutput, "dying\n");
}

TEST_F(TaskLauncherTest, RunnerThatCannotStartIsReportedAndNeverEnds)
{
    auto missing = launchAndWait(launcher, TaskRequest{scratch / "no such runner", {}});
    EXPECT_FALSE(missing.launch.launched);
    EXPECT_NE(missing.launch.errorDescription.find("no such runner"), std::string::npos);
    EXPECT_NE(missing.launch.errorDescription.find("No such file"), std::string::npos);
    EXPECT_FALSE(missing.end);

    const auto plain = scratch / "not executable";
    writeFile(plain, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(plain, std::filesystem::perms(0644));
    auto refused = launchAndWait(launcher, TaskRequest{plain, {}});
    EXPECT_FALSE(refused.launch.launched);
    EXPECT_NE(refused.launch.errorDescription.find("Permission denied"), std::string::npos)
        << refused.launch.errorDescription;
    EXPECT_FALSE(refused.end);

    auto folder = launchAndWait(launcher, TaskRequest{scratch.path(), {}});
    EXPECT_FALSE(folder.launch.launched);
    EXPECT_FALSE(folder.launch.errorDescription.empty());
}

TEST_F(TaskLauncherTest, HugeErrorOutputArrivesWholeWithoutBlockingTheRunner)
{
    // Far more than a pipe holds, and written before the runner ends: it
    // would block for ever if nobody read while it ran.
    auto outcome = run("seq 1 800000 >&2\nexit 4\n");
    ASSERT_TRUE(outcome.end);
    EXPECT_EQ(outcome.end->status, 4);
    std::string expected;
    for (int i = 1; i <= 800000; ++i)
        expected += std::to_string(i) + "\n";
    ASSERT_GT(expected.size(), 4u << 20);
    EXPECT_EQ(outcome.end->errorOutput.size(), expected.size());
    EXPECT_TRUE(outcome.end->errorOutput == expected);
}

TEST_F(TaskLauncherTest, GrandchildHoldingThePipeDoesNotHoldUpTheEnd)
{
    const auto pidFile = scratch / "grandchild";
    auto outcome = run("sleep 300 >&2 &\necho $! > '" + pidFile.string() + "'\necho 'before the end' >&2\nexit 6\n");
    ASSERT_TRUE(outcome.end);
    EXPECT_EQ(outcome.end->status, 6);
    EXPECT_EQ(outcome.end->errorOutput, "before the end\n");
    const pid_t grandchild = std::stoi(readFile(pidFile));
    EXPECT_EQ(::kill(grandchild, 0), 0) << "the grandchild should still be running";
    ::kill(grandchild, SIGKILL);
}

TEST_F(TaskLauncherTest, RunnerSeesNoDescriptorOfOursAndWritesNothingToOurOutput)
{
    // Opened the careless way, as some library might.
    const int inherited = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(inherited, 2);
    auto outcome = run("for fd in " + std::to_string(inherited) +
                       " 3 4 5 6 7 8 9; do [ -e /proc/$$/fd/$fd ] && echo \"open: $fd\" >&2; done\n"
                       "echo \"$(readlink /proc/$$/fd/1)\" >&2\n"
                       "exit 0\n");
    ::close(inherited);
    ASSERT_TRUE(outcome.end);
    EXPECT_EQ(outcome.end->errorOutput, "/dev/null\n");
}

} // namespace
} // namespace tarnhollow
