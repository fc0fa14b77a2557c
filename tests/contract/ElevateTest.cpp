// The Linux elevation runner, run for real: directly as root, and through a
// fake pkexec as an ordinary user. The runner calls /usr/bin/pkexec by its
// full path, so the fake is bind-mounted over it in a mount namespace of the
// test's own; that needs root.
#include "collector/Contract.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "platform/posix/Spawn.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#ifdef TARNHOLLOW_ELEVATE

namespace tarnhollow {
namespace {

using namespace testing;

constexpr const char* needsRoot =
    "needs root: the runner is checked in a private mount namespace where a fake stands in for /usr/bin/pkexec";

std::size_t countLines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

class ElevateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // An unprivileged user must reach everything here, the runner
        // included: the build folder may lie where only root can enter.
        std::filesystem::permissions(scratch.path(), std::filesystem::perms(0777));
        std::filesystem::create_directory(fakes);
        std::filesystem::permissions(fakes, std::filesystem::perms(0755));
        std::filesystem::copy_file(TARNHOLLOW_ELEVATE, elevateProgram);
        std::filesystem::permissions(elevateProgram, std::filesystem::perms(0755));
    }

    // Installs a pkexec that records its arguments, insists on an absolute
    // program as the real one does, and then behaves as `then` says.
    void fakePkexec(const std::string& then)
    {
        writeScript(fakePkexecFile, "printf '%s\\0' \"$@\" > '" + (scratch / "pkexec-args").string() +
                                        "'\n"
                                        "case \"$1\" in /*) ;; *) echo 'pkexec: not absolute' >&2; exit 127;; esac\n" +
                                        then + "\n");
    }

    enum class As {
        caller,        // whoever runs the tests, with the system's pkexec
        rootWithFake,  // root, with the fake standing in for /usr/bin/pkexec
        nobodyWithFake // an ordinary user (nobody), likewise: the pkexec road
    };

    // The whole command line that runs the runner with `arguments`.
    std::vector<std::string> command(const std::vector<std::string>& arguments, As as)
    {
        std::vector<std::string> line;
        if (as != As::caller) {
            // The bind mount lives only as long as this private namespace.
            line = {"/usr/bin/unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                    "mount --bind \"$1\" /usr/bin/pkexec || exit 125; shift; exec \"$@\"", "sh",
                    fakePkexecFile.string()};
            if (as == As::nobodyWithFake)
                line.insert(line.end(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
        }
        line.push_back(elevateProgram.string());
        line.insert(line.end(), arguments.begin(), arguments.end());
        return line;
    }

    TaskEnd runner(const std::vector<std::string>& arguments, As as)
    {
        auto line = command(arguments, as);
        const std::filesystem::path program = line.front();
        line.erase(line.begin());
        auto outcome = launchAndWait(launcher, TaskRequest{program, line});
        EXPECT_TRUE(outcome.launch.launched) << outcome.launch.errorDescription;
        EXPECT_TRUE(outcome.end);
        return outcome.end.value_or(TaskEnd{});
    }

    TaskEnd elevate(const std::string& commandLine, As as)
    {
        return runner(contract::runnerArguments(commandLine), as);
    }

    ScratchFolder scratch;
    std::filesystem::path fakes = scratch / "fakes";
    std::filesystem::path ran = scratch / "ran";
    std::filesystem::path elevateProgram = scratch / "elevate";
    std::filesystem::path fakePkexecFile = fakes / "pkexec";
    PosixTaskLauncher launcher;
};

TEST_F(ElevateTest, RefusesAnythingButTheFourArgumentsOfTheContract)
{
    const std::string script(contract::runnerScript);
    const std::string touch = "touch '" + ran.string() + "'";
    const std::string prompt(contract::passwordPrompt);
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"-e", script, touch},
        {"-e", script, touch, prompt, "extra"},
        {"-x", script, touch, prompt},
        {"-e", script + "\n", touch, prompt},
        {"-e", "do shell script (item 1 of argv)", touch, prompt},
        {"-e", "", touch, prompt},
    };
    for (const auto& arguments : refused) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const TaskEnd end = runner(arguments, As::caller);
        EXPECT_NE(end.status, 0);
        EXPECT_EQ(countLines(end.errorOutput), 1u) << end.errorOutput;
        EXPECT_EQ(end.errorOutput.rfind("elevate: ", 0), 0u);
        EXPECT_FALSE(std::filesystem::exists(ran));
    }
}

TEST_F(ElevateTest, AsRootRunsTheShellDirectlyAndPassesItsStatusOn)
{
    if (!runningAsRoot())
        GTEST_SKIP() << needsRoot;
    fakePkexec("echo 'pkexec must not be used as root' >&2; exit 1");

    const TaskEnd failed = elevate("id -u > '" + ran.string() + "'; echo 'from the shell' >&2; exit 7", As::rootWithFake);
    EXPECT_EQ(failed.status, 7);
    EXPECT_EQ(readFile(ran), "0\n");
    EXPECT_EQ(failed.errorOutput.rfind("from the shell\n", 0), 0u) << failed.errorOutput;
    EXPECT_NE(failed.errorOutput.find("7"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(scratch / "pkexec-args"));

    const TaskEnd succeeded = elevate("exit 0", As::rootWithFake);
    EXPECT_EQ(succeeded.status, 0);
    EXPECT_EQ(succeeded.errorOutput, "");

    // The shell's 126 (a collector that cannot run) is no cancellation.
    const TaskEnd notRunnable = elevate("exit 126", As::rootWithFake);
    EXPECT_EQ(notRunnable.status, 126);
    EXPECT_EQ(notRunnable.errorOutput.find(contract::cancelledMarker), std::string::npos);
}

TEST_F(ElevateTest, DismissedDialogReadsAsCancellation)
{
    if (!runningAsRoot())
        GTEST_SKIP() << needsRoot;
    fakePkexec("exit 126");
    const TaskEnd end = elevate("touch '" + ran.string() + "'", As::nobodyWithFake);
    EXPECT_NE(end.status, 0);
    EXPECT_NE(end.errorOutput.find(contract::cancelledMarker), std::string::npos) << end.errorOutput;
    EXPECT_EQ(countLines(end.errorOutput), 1u);
    EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST_F(ElevateTest, AuthorisedShellStatusPassesThroughPkexec)
{
    if (!runningAsRoot())
        GTEST_SKIP() << needsRoot;
    fakePkexec("exec \"$@\"");

    const std::string commandLine = "touch '" + ran.string() + "'; echo \"it's $1\" >&2; exit 0";
    const TaskEnd succeeded = elevate(commandLine, As::nobodyWithFake);
    EXPECT_EQ(succeeded.status, 0);
    EXPECT_EQ(succeeded.errorOutput, "it's \n");
    EXPECT_TRUE(std::filesystem::exists(ran));
    // The command line reaches pkexec as one argument of its own, after an
    // absolute shell, never spliced into another command.
    const auto pkexecArguments = splitNul(readFile(scratch / "pkexec-args"));
    ASSERT_GE(pkexecArguments.size(), 2u);
    EXPECT_EQ(pkexecArguments.front(), "/bin/sh");
    EXPECT_EQ(pkexecArguments.back(), commandLine);

    const TaskEnd failed = elevate("exit 5", As::nobodyWithFake);
    EXPECT_EQ(failed.status, 5);
    EXPECT_NE(failed.errorOutput.find("5"), std::string::npos);

    // pkexec answers 126 for a dismissed dialog, but so does the shell for
    // a collector it cannot execute: that one is a failure.
    const TaskEnd notRunnable = elevate("exit 126", As::nobodyWithFake);
    EXPECT_EQ(notRunnable.status, 126);
    EXPECT_EQ(notRunnable.errorOutput.find(contract::cancelledMarker), std::string::npos) << notRunnable.errorOutput;
}

TEST_F(ElevateTest, InstalledCopyHasPkexecRunItselfOtherCopiesTheShell)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << needsRoot;
    // Authorised: the byte the caller waits for, and a successful end.
    fakePkexec("printf x; exit 0");
    const std::string installed = "/opt/tarnhollow/Tarnhollow.app/Contents/Helpers/elevate";
    const std::string commandLine = "touch '" + ran.string() + "'";
    const auto pkexecArgumentsWhenOptIs = [&](const char* mode) {
        // A root-owned copy where the package puts it, inside the namespace,
        // then run by nobody.
        const std::vector<std::string> line = {
            "/usr/bin/unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c",
            "umask 022 && mount --bind \"$1\" /usr/bin/pkexec && mount -t tmpfs -o mode=755 none /opt &&"
            " mkdir -p /opt/tarnhollow/Tarnhollow.app/Contents/Helpers && cp \"$2\" \"$3\" &&"
            " chmod \"$4\" /opt/tarnhollow || exit 125; shift 4; exec \"$@\"",
            "sh", fakePkexecFile.string(), elevateProgram.string(), installed, mode,
            "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", installed};
        std::vector<std::string> arguments(line.begin() + 1, line.end());
        for (const auto& argument : contract::runnerArguments(commandLine))
            arguments.push_back(argument);
        auto outcome = launchAndWait(launcher, TaskRequest{line.front(), arguments});
        EXPECT_TRUE(outcome.launch.launched);
        EXPECT_EQ(outcome.end.value_or(TaskEnd{}).status, 0) << outcome.end.value_or(TaskEnd{}).errorOutput;
        return splitNul(readFile(scratch / "pkexec-args"));
    };

    const auto expected = contract::runnerArguments(commandLine);
    std::vector<std::string> itself = {installed};
    itself.insert(itself.end(), expected.begin(), expected.end());
    EXPECT_EQ(pkexecArgumentsWhenOptIs("755"), itself);

    // A folder on the way that others may write: the generic road.
    const auto generic = pkexecArgumentsWhenOptIs("777");
    ASSERT_FALSE(generic.empty());
    EXPECT_EQ(generic.front(), "/bin/sh");
    EXPECT_EQ(generic.back(), commandLine);
}

TEST_F(ElevateTest, OtherPkexecFailuresGiveOneClearLine)
{
    if (!runningAsRoot())
        GTEST_SKIP() << needsRoot;
    fakePkexec("echo 'Error executing command as another user: Not authorized' >&2\necho >&2\n"
               "echo 'This incident has been reported.' >&2\nexit 127");
    const TaskEnd refused = elevate("touch '" + ran.string() + "'", As::nobodyWithFake);
    EXPECT_NE(refused.status, 0);
    EXPECT_EQ(countLines(refused.errorOutput), 1u) << refused.errorOutput;
    EXPECT_NE(refused.errorOutput.find("administrator"), std::string::npos);
    EXPECT_EQ(refused.errorOutput.find(contract::cancelledMarker), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(ran));

    // A pkexec that cannot be executed is reported, not searched for elsewhere.
    std::filesystem::permissions(fakePkexecFile, std::filesystem::perms(0644));
    const TaskEnd missing = elevate("touch '" + ran.string() + "'", As::nobodyWithFake);
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(countLines(missing.errorOutput), 1u) << missing.errorOutput;
    EXPECT_NE(missing.errorOutput.find("pkexec"), std::string::npos);
    EXPECT_EQ(missing.errorOutput.find(contract::cancelledMarker), std::string::npos);
}

TEST_F(ElevateTest, ClosedErrorPipeDoesNotStopTheCollection)
{
    if (!runningAsRoot())
        GTEST_SKIP() << needsRoot;
    // The app has quit: nobody reads the runner's error output any more.
    fakePkexec("exec \"$@\"");
    posix::Pipe errors;
    ASSERT_EQ(errors.open(), 0);
    posix::Pipe::closeEnd(errors.read);

    const auto line = command(
        contract::runnerArguments("sleep 0.2; echo done > '" + ran.string() + "'; exit 3"), As::nobodyWithFake);
    const posix::Spawned runner = posix::spawn(line.front(), line, {posix::StandardStreams::inherit, errors.write});
    ASSERT_EQ(runner.error, 0);
    posix::Pipe::closeEnd(errors.write);

    EXPECT_EQ(posix::waitForEnd(runner.pid), 3) << "not ended by SIGPIPE";
    EXPECT_EQ(readFile(ran), "done\n");
}

} // namespace
} // namespace tarnhollow

#endif
