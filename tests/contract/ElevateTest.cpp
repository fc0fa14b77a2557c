// The Linux elevation runner, run for real: as root, and as an ordinary user
// through a fake pkexec. The runner calls /usr/bin/pkexec by its full path,
// so the fake is bind-mounted over it in a private mount namespace: root only.
#include "collector/Contract.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "platform/posix/Spawn.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <sys/stat.h>

#ifdef TARNHOLLOW_ELEVATE

namespace tarnhollow {
namespace {

using namespace testing;
namespace fs = std::filesystem;

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

std::size_t lines(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ElevateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Nobody must reach the runner: the build folder may be root's alone.
        fs::permissions(scratch.path(), fs::perms(0777));
        fs::copy_file(TARNHOLLOW_ELEVATE, elevate);
    }

    // A pkexec that records its arguments, insists on an absolute program as
    // the real one does, then does `then`.
    void fakePkexec(const std::string& then)
    {
        writeScript(pkexec, "printf '%s\\0' \"$@\" > '" + pkexecArgs.string() +
                                "'\ncase \"$1\" in /*) ;; *) echo 'pkexec: not absolute' >&2; exit 127;; esac\n" +
                                then + "\n");
    }

    // Runs `setup` as root in a private mount namespace with the fake over
    // /usr/bin/pkexec, then `program` with the runner's arguments for
    // `commandLine`, as nobody.
    std::vector<std::string> line(const std::string& commandLine, const std::string& program = "",
                                  const std::string& setup = "")
    {
        const std::string mountFake =
            "umask 022 && mount --bind \"$1\" /usr/bin/pkexec " + setup + "|| exit 125; shift; exec \"$@\"";
        auto line = words("/usr/bin/unshare --mount --propagation private -- /bin/sh -c");
        line.insert(line.end(), {mountFake, "sh", pkexec.string()});
        for (auto& word : words("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups --"))
            line.push_back(word);
        line.push_back(program.empty() ? elevate.string() : program);
        for (auto& argument : contract::runnerArguments(commandLine))
            line.push_back(argument);
        return line;
    }
    TaskEnd run(const std::string& commandLine, const std::string& program = "", const std::string& setup = "")
    {
        auto arguments = line(commandLine, program, setup);
        arguments.erase(arguments.begin());
        auto outcome = launchAndWait(launcher, TaskRequest{"/usr/bin/unshare", arguments});
        EXPECT_TRUE(outcome.end);
        return outcome.end.value_or(TaskEnd{});
    }

    ScratchFolder scratch;
    fs::path elevate = scratch / "elevate", pkexec = scratch / "pkexec", pkexecArgs = scratch / "pkexec-args";
    fs::path ran = scratch / "ran";
    std::string touch = "touch '" + ran.string() + "'";
    PosixTaskLauncher launcher;
};

TEST_F(ElevateTest, RefusesAnythingButTheFourArgumentsOfTheContract)
{
    const std::string script(contract::runnerScript), prompt(contract::passwordPrompt);
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"-e", script, touch},
                                               {"-e", script, touch, prompt, "extra"},
                                               {"-x", script, touch, prompt},
                                               {"-e", script + "\n", touch, prompt}}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto end = launchAndWait(launcher, TaskRequest{elevate, arguments}).end.value_or(TaskEnd{});
        EXPECT_NE(end.status, 0);
        EXPECT_EQ(lines(end.errorOutput), 1u) << end.errorOutput;
        EXPECT_EQ(end.errorOutput.rfind("elevate: ", 0), 0u);
        EXPECT_FALSE(fs::exists(ran));
    }
}

class ElevateAsRootTest : public ElevateTest {
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root for the private mount namespace";
        ElevateTest::SetUp();
    }
};

TEST_F(ElevateAsRootTest, PkexecRoadPassesTheStatusOnAndTellsItsOwnFailuresInOneLine)
{
    const struct {
        std::string pkexec, commandLine;
        int32_t status;          // -1: any failure
        std::string errorOutput; // what it holds
        bool cancelled, oneLine, ran;
    } cases[] = {
        {"exec \"$@\"", touch + "; echo \"it's $1\" >&2; exit 0", 0, "it's \n", false, true, true},
        {"exec \"$@\"", "exit 5", 5, "5", false, false, false},
        // pkexec answers 126 for a dismissed dialog, the shell for a
        // collector it cannot execute: only the first is a cancellation.
        {"exec \"$@\"", "exit 126", 126, "", false, false, false},
        {"exit 126", touch, -1, std::string(contract::cancelledMarker), true, true, false},
        // Some agents report a dismissed dialog as a refusal.
        {"echo 'Error executing command as another user: Not authorized' >&2\necho >&2\n"
         "echo 'This incident has been reported.' >&2\nexit 127",
         touch, -1, std::string(contract::cancelledMarker), true, true, false},
        {"echo 'Error executing command as another user: No authentication agent found.' >&2\nexit 127", touch, -1,
         std::string(contract::noPasswordDialog), false, true, false},
        {"echo 'Cannot run program x: No such file or directory' >&2\nexit 127", touch, -1, "Cannot run", false, true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pkexec + " / " + c.commandLine);
        fakePkexec(c.pkexec);
        const TaskEnd end = run(c.commandLine);
        EXPECT_TRUE(c.status < 0 ? end.status != 0 : end.status == c.status) << end.status;
        EXPECT_NE(end.errorOutput.find(c.errorOutput), std::string::npos) << end.errorOutput;
        EXPECT_EQ(end.errorOutput.find(contract::cancelledMarker) != std::string::npos, c.cancelled);
        EXPECT_TRUE(!c.oneLine || lines(end.errorOutput) == 1) << end.errorOutput;
        EXPECT_EQ(fs::exists(ran), c.ran);
        fs::remove(ran);
    }
    // A pkexec that cannot be executed is reported, not searched for elsewhere.
    fs::permissions(pkexec, fs::perms(0644));
    const TaskEnd missing = run(touch);
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(lines(missing.errorOutput), 1u) << missing.errorOutput;
    EXPECT_NE(missing.errorOutput.find("pkexec"), std::string::npos);
    EXPECT_FALSE(fs::exists(ran));
}

// The package's copy where the package puts it, in a private /opt.
std::string installCopy(const fs::path& elevate, const std::string& mode)
{
    const fs::path app = "/opt/tarnhollow/Tarnhollow.app";
    return "&& mount -t tmpfs -o mode=755 none /opt && mkdir -p " + (app / "Contents/Helpers").string() + " " +
           (app / "Contents/MacOS").string() + " && cp " + contract::shellQuote(elevate.string()) + " " +
           (app / "Contents/Helpers/elevate").string() +
           " && printf '%s\\n' '#!/bin/sh' "
           "'printf \"%s \" \"$@\" \"$SUDO_UID\" \"$TARNHOLLOW_OUTPUT_PIN\"' > " +
           (app / "Contents/MacOS/tarnhollow").string() + " && chmod 755 " +
           (app / "Contents/MacOS/tarnhollow").string() + " && chmod " + mode + " /opt ";
}

TEST_F(ElevateAsRootTest, UnderPkexecRunsOnlyTheInstalledCollectorForTheUsersOwnFiles)
{
    ThrowawayUser alice("alice");
    const fs::path out = scratch / "out", folder = scratch / "private", progress = folder / "p.out";
    ASSERT_EQ(alice.run("mkdir " + contract::shellQuote(out.string()) + " && umask 077 && mkdir " +
                        contract::shellQuote(folder.string()) + " && : > " + contract::shellQuote(progress.string())),
              0);
    struct stat info {};
    ASSERT_EQ(::stat(out.c_str(), &info), 0);
    const std::string pin = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    // As pkexec starts the package's copy for alice; in an /opt others may
    // write into, it is no copy root can trust.
    auto asPkexec = [&](std::vector<std::string> arguments, const std::string& mode = "755") {
        const std::string installed = "/opt/tarnhollow/Tarnhollow.app/Contents/Helpers/elevate";
        std::string script = "umask 022 " + installCopy(elevate, mode) + "&& PKEXEC_UID=" + std::to_string(alice.uid) +
                             " exec " + installed;
        for (const auto& argument : arguments)
            script += " " + contract::shellQuote(argument);
        return launchAndWait(launcher,
                             TaskRequest{"/usr/bin/unshare",
                                         {"--mount", "--propagation", "private", "--", "/bin/sh", "-c", script}})
            .end.value_or(TaskEnd{});
    };
    EXPECT_EQ(asPkexec({"--collect", out.string(), pin, progress.string()}).status, 0);
    EXPECT_EQ(readFile(progress), "-o " + out.string() + " " + std::to_string(alice.uid) + " " + pin + " ");

    // A shell line, another folder, a link to it, another user's progress
    // file: nothing of it runs or is written by root.
    const fs::path link = scratch / "link";
    fs::create_directory_symlink(out, link);
    const struct {
        std::vector<std::string> arguments;
        std::string_view refusal;
        std::string mode = "755";
    } refused[] = {
        {contract::runnerArguments(touch), "elevate: "},
        {{"--collect", out.string(), pin, progress.string()}, "elevate: ", "777"},
        {{"--collect", scratch.path().string(), pin, progress.string()}, contract::outputFolderChanged},
        {{"--collect", link.string(), pin, progress.string()}, contract::outputFolderChanged},
        {{"--collect", out.string(), pin, (scratch / "root-owned").string()}, contract::progressFileUnsafe},
    };
    writeFile(scratch / "root-owned", "");
    for (const auto& attempt : refused) {
        SCOPED_TRACE(::testing::PrintToString(attempt.arguments));
        const TaskEnd end = asPkexec(attempt.arguments, attempt.mode);
        EXPECT_NE(end.status, 0);
        EXPECT_NE((end.errorOutput + readFile(progress)).find(attempt.refusal), std::string::npos) << end.errorOutput;
        EXPECT_FALSE(fs::exists(ran));
    }
    EXPECT_EQ(readFile(scratch / "root-owned"), "");
}

TEST_F(ElevateAsRootTest, ClosedErrorPipeDoesNotStopTheCollection)
{
    // The app has quit: nobody reads the runner's error output any more.
    fakePkexec("exec \"$@\"");
    posix::Pipe errors;
    ASSERT_EQ(errors.open(), 0);
    posix::Pipe::closeEnd(errors.read);
    const auto command = line("sleep 0.2; echo done > '" + ran.string() + "'; exit 3");
    const posix::Spawned runner =
        posix::spawn(command.front(), command, {posix::StandardStreams::inherit, errors.write});
    ASSERT_EQ(runner.error, 0);
    posix::Pipe::closeEnd(errors.write);
    EXPECT_EQ(posix::waitForEnd(runner.pid), 3) << "not ended by SIGPIPE";
    EXPECT_EQ(readFile(ran), "done\n");
}

} // namespace
} // namespace tarnhollow

#endif
