// What root does with the collector command line while another local user
// attacks it between the moment the app prepared the run and the moment
// root runs it (the password dialog). Needs root, for the throwaway users.
#include "collector/Contract.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnhollow {
namespace {

using namespace testing;
namespace fs = std::filesystem;

class PrivilegedRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: runs the command line as root and adds throwaway users";
        alice.emplace("alice");
        mallory.emplace("mallory");
        // Team and temporary folders every account may write into, without
        // the sticky bit: the worst the responder may meet.
        fs::permissions(scratch.path(), fs::perms(0755));
        fs::create_directories(collector.parent_path());
        fs::create_directory(temporary);
        fs::permissions(team, fs::perms(0777));
        fs::permissions(temporary, fs::perms(0777));
        writeScript(collector, "echo genuine; touch '" + genuineRan.string() + "'\n");
        for (const fs::path& item : {app, app / "Contents", collector.parent_path(), collector})
            alice->own(item);
        writeFile(victim, "precious\n");
        writeScript(evil, "touch '" + (scratch / "pwned").string() + "'\n");
        mallory->own(evil);
        prepare();
        sha256 = *PosixFileSystem().sha256OfFile(collector);
        output = pin(team);
    }

    void TearDown() override
    {
        std::error_code ignored; // the users' files go before their accounts do
        fs::remove_all(team, ignored);
        fs::remove_all(temporary, ignored);
    }

    // What the app does as alice before it asks for the password.
    void prepare() { ASSERT_EQ(alice->run("umask 077; mkdir " + q(folder) + " && : > " + q(progress)), 0); }

    static contract::FolderPin pin(const fs::path& folder)
    {
        const auto resolved = PosixFileSystem().resolveFolder(folder);
        return resolved ? contract::FolderPin{resolved->path, resolved->device, resolved->inode}
                        : contract::FolderPin{};
    }

    // Root runs the line as the runner's shell does, `around` it (in a
    // private mount namespace, say).
    TaskEnd runAsRoot(const std::string& around = "")
    {
        PosixTaskLauncher launcher;
        const std::string line =
            contract::collectorCommandLine({alice->uid, alice->gid, collector, sha256, output, progress});
        return launchAndWait(launcher, TaskRequest{"/bin/sh",
                                                   {"-c", around.empty() ? line : around + contract::shellQuote(line)}})
            .end.value_or(TaskEnd{});
    }

    // The attack must fail the run without root running or writing anything
    // of the attacker's.
    TaskEnd expectRefused()
    {
        PosixTaskLauncher launcher;
        auto outcome = launchAndWait(
            launcher, TaskRequest{"/bin/sh",
                                  {"-c", contract::collectorCommandLine(
                                             {alice->uid, alice->gid, collector, sha256, output, progress})}});
        EXPECT_TRUE(outcome.end) << "root's shell must never hang";
        EXPECT_NE(outcome.end.value_or(TaskEnd{}).status, 0);
        EXPECT_FALSE(fs::exists(scratch / "pwned")) << "root ran mallory's program";
        EXPECT_FALSE(fs::exists(genuineRan));
        EXPECT_EQ(readFile(victim), "precious\n");
        return outcome.end.value_or(TaskEnd{});
    }

    static std::string q(const fs::path& path) { return contract::shellQuote(path.string()); }

    ScratchFolder scratch;
    std::optional<ThrowawayUser> alice, mallory;
    fs::path team = scratch / "team", temporary = scratch / "tmp", app = team / "Tarnhollow.app";
    fs::path collector = app / contract::collectorInBundle, genuineRan = scratch / "genuine-ran";
    fs::path folder = temporary / "tarnhollow-Q1w2E3r4", progress = folder / "tarnhollow-RUN.out";
    fs::path victim = scratch / "root-owned", evil = scratch / "evil";
    std::string sha256;
    contract::FolderPin output;
};

TEST_F(PrivilegedRunTest, RunsTheCollectorThatWasHashedAndNothingElse)
{
    EXPECT_EQ(runAsRoot().status, 0);
    EXPECT_EQ(readFile(progress), "genuine\n");
    fs::remove(genuineRan);

    // His program, a link to it, a FIFO nobody writes to: each in the place
    // of a bundle he renamed.
    const std::string renamed =
        "mv " + q(app) + " " + q(app.string() + ".old") + " && mkdir -p " + q(collector.parent_path()) + " && ";
    for (const std::string& swap :
         {"cp " + q(evil) + " " + q(collector), "ln -s " + q(evil) + " " + q(collector), "mkfifo " + q(collector)}) {
        SCOPED_TRACE(swap);
        ASSERT_EQ(mallory->run(renamed + swap), 0);
        expectRefused();
        EXPECT_EQ(readFile(progress), std::string(contract::collectorChanged) + "\n");
        fs::remove_all(app);
        fs::rename(app.string() + ".old", app);
    }
}

TEST_F(PrivilegedRunTest, WritesOnlyIntoTheUsersOwnProgressFile)
{
    const fs::path decoy = temporary / "decoy", gone = folder.string() + ".gone";
    const struct {
        ThrowawayUser* by;
        std::string attack;
    } attacks[] = {
        // the private folder moved away and a link to his own in its place
        {&*mallory, "mkdir " + q(decoy) + " && ln -s " + q(victim) + " " + q(decoy / progress.filename()) + " && mv " +
                        q(folder) + " " + q(gone) + " && ln -s " + q(decoy) + " " + q(folder)},
        // the folder is his own, made under that name
        {&*mallory, "mv " + q(folder) + " " + q(gone) + " && mkdir " + q(folder) + " && chmod 777 " + q(folder) +
                        " && : > " + q(progress)},
        {&*alice, "chmod 777 " + q(folder)}, // the folder lets others write
        {&*alice, "rm " + q(progress) + " && ln -s " + q(victim) + " " + q(progress)},
        {&*alice, "rm " + q(progress) + " && mkfifo " + q(progress)},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.attack);
        fs::remove_all(temporary);
        fs::create_directory(temporary);
        fs::permissions(temporary, fs::perms(0777));
        prepare();
        ASSERT_EQ(attack.by->run(attack.attack), 0);
        const TaskEnd end = expectRefused();
        EXPECT_NE(end.errorOutput.find(contract::progressFileUnsafe), std::string::npos) << end.errorOutput;
    }
}

// Root refuses what it cannot pin.

#ifdef TARNHOLLOW_COLLECTOR
TEST_F(PrivilegedRunTest, OutputFolderMovedAndReplacedIsNeverWrittenThrough)
{
    // The real collector, which opens the output folder; alice's kit folder
    // lies in the shared folder.
    fs::copy_file(TARNHOLLOW_COLLECTOR, collector, fs::copy_options::overwrite_existing);
    sha256 = *PosixFileSystem().sha256OfFile(collector);
    const fs::path kit = team / "kit", rootOnly = scratch / "root-only";
    fs::create_directory(kit);
    fs::create_directory(rootOnly);
    alice->own(kit);
    output = pin(kit);
    for (const std::string& swap : {"ln -s " + q(rootOnly) + " " + q(kit), "mkdir " + q(kit)}) {
        SCOPED_TRACE(swap);
        ASSERT_EQ(mallory->run("mv " + q(kit) + " " + q(kit.string() + ".old") + " && " + swap), 0);
        expectRefused();
        EXPECT_EQ(readFile(progress), std::string(contract::outputFolderChanged) + "\n");
        EXPECT_TRUE(fs::is_empty(rootOnly));
        EXPECT_TRUE(fs::is_empty(kit));
        fs::remove(kit);
        fs::rename(kit.string() + ".old", kit);
    }
}
#endif

TEST_F(PrivilegedRunTest, CopyRunsFromAFolderThatRunsProgramsAndEachFailureSaysWhy)
{
    // /tmp mounted noexec: the copy runs from the next folder, and goes.
    EXPECT_EQ(runAsRoot("unshare --mount --propagation private -- sh -c 'mount --bind /tmp /tmp && "
                        "mount -o remount,bind,noexec /tmp && exec sh -c \"$0\"' ")
                  .status,
              0);
    EXPECT_EQ(readFile(progress), "genuine\n");

    // Gone, or no hash tool: said as such, never as a changed collector.
    fs::remove(collector);
    EXPECT_NE(runAsRoot().status, 0);
    EXPECT_EQ(readFile(progress), std::string(contract::collectorNotCopied) + "\n");
    writeScript(collector, "echo genuine\n");
    EXPECT_NE(runAsRoot("unshare --mount --propagation private -- sh -c 'mount --bind /dev/null "
                        "/usr/bin/sha256sum && exec sh -c \"$0\"' ")
                  .status,
              0);
    EXPECT_EQ(readFile(progress), std::string(contract::collectorNotHashed) + "\n");
}

} // namespace
} // namespace tarnhollow
