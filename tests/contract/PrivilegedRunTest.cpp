// What root does with the collector command line while another local user
// attacks it: the collector or the progress file swapped between the moment
// the app prepared the run and the moment root runs it (the password dialog).
// Needs root, to run as root and to make the throwaway accounts.
#include "collector/Contract.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "tests/contract/ContractSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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
        // A team folder and a temporary folder that every account may write
        // into, without the sticky bit: the worst the responder may meet.
        fs::permissions(scratch.path(), fs::perms(0755));
        for (const fs::path& shared : {team, temporary}) {
            fs::create_directory(shared);
            fs::permissions(shared, fs::perms(0777));
        }
        fs::create_directories(collector.parent_path());
        writeScript(collector, "echo genuine; touch '" + (scratch / "genuine-ran").string() + "'\n");
        for (const fs::path& item : {team / "Tarnhollow.app", team / "Tarnhollow.app/Contents",
                                     collector.parent_path(), collector})
            alice->own(item);
        writeFile(victim, "precious\n");
        writeScript(evil, "touch '" + pwned.string() + "'\n");
        mallory->own(evil);

        // What the app does as alice before it asks for the password.
        ASSERT_EQ(alice->run("umask 077; mkdir '" + privateFolder.string() + "' && : > '" + progress.string() + "'"),
                  0);
        sha256 = *PosixFileSystem().sha256OfFile(collector);
    }

    void TearDown() override
    {
        // Mallory's and alice's files go before their accounts do.
        std::error_code ignored;
        fs::remove_all(team, ignored);
        fs::remove_all(temporary, ignored);
    }

    // Root runs the line as the runner's shell does.
    TaskEnd runAsRoot()
    {
        const std::string line = contract::collectorCommandLine(
            {alice->uid, alice->gid, collector, sha256, team, progress});
        PosixTaskLauncher launcher;
        auto outcome = launchAndWait(launcher, TaskRequest{"/bin/sh", {"-c", line}});
        EXPECT_TRUE(outcome.end) << "root's shell must never hang";
        return outcome.end.value_or(TaskEnd{});
    }

    ScratchFolder scratch;
    std::optional<ThrowawayUser> alice, mallory;
    fs::path team = scratch / "team";
    fs::path temporary = scratch / "tmp";
    fs::path collector = team / "Tarnhollow.app" / contract::collectorInBundle;
    fs::path privateFolder = temporary / "tarnhollow-Q1w2E3r4";
    fs::path progress = privateFolder / "tarnhollow-RUN.out";
    fs::path victim = scratch / "root-owned";
    fs::path evil = scratch / "evil";
    fs::path pwned = scratch / "pwned";
    std::string sha256;
};

TEST_F(PrivilegedRunTest, RunsTheCollectorThatWasHashedAndNothingElse)
{
    const TaskEnd untouched = runAsRoot();
    EXPECT_EQ(untouched.status, 0) << untouched.errorOutput;
    EXPECT_EQ(readFile(progress), "genuine\n");
    fs::remove(scratch / "genuine-ran");

    const std::string app = (team / "Tarnhollow.app").string();
    const std::string place = collector.string();
    const struct {
        const char* what;
        std::string attack;
    } attacks[] = {
        {"a program of his in a renamed bundle's place",
         "mv '" + app + "' '" + app + ".old' && mkdir -p '" + collector.parent_path().string() + "' && cp '" +
             evil.string() + "' '" + place + "'"},
        {"a link to his program",
         "mv '" + app + "' '" + app + ".old' && mkdir -p '" + collector.parent_path().string() + "' && ln -s '" +
             evil.string() + "' '" + place + "'"},
        {"a FIFO nobody writes to",
         "mv '" + app + "' '" + app + ".old' && mkdir -p '" + collector.parent_path().string() + "' && mkfifo '" +
             place + "'"},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.what);
        ASSERT_EQ(mallory->run(attack.attack), 0);
        const TaskEnd end = runAsRoot();
        EXPECT_NE(end.status, 0);
        EXPECT_FALSE(fs::exists(pwned)) << "root ran mallory's program";
        EXPECT_FALSE(fs::exists(scratch / "genuine-ran"));
        EXPECT_EQ(readFile(progress), std::string(contract::collectorChanged) + "\n");
        // Back to the genuine bundle for the next attack.
        fs::remove_all(app);
        fs::rename(app + ".old", app);
    }
}

TEST_F(PrivilegedRunTest, WritesOnlyIntoTheUsersOwnProgressFile)
{
    const std::string folder = privateFolder.string();
    const std::string decoy = (temporary / "decoy").string();
    const struct {
        const char* what;
        std::function<void()> attack;
    } attacks[] = {
        {"mallory moves the private folder away and links his own in its place",
         [&] {
             ASSERT_EQ(mallory->run("mkdir '" + decoy + "' && ln -s '" + victim.string() + "' '" + decoy +
                                    "/tarnhollow-RUN.out' && mv '" + folder + "' '" + folder + ".gone' && ln -s '" +
                                    decoy + "' '" + folder + "'"),
                       0);
         }},
        {"the folder is mallory's own, made first under that name",
         [&] {
             ASSERT_EQ(mallory->run("mv '" + folder + "' '" + folder + ".gone' && mkdir '" + folder +
                                    "' && chmod 777 '" + folder + "' && : > '" + progress.string() + "'"),
                       0);
         }},
        {"the folder lets others write", [&] { fs::permissions(privateFolder, fs::perms(0777)); }},
        {"the file is a link",
         [&] { ASSERT_EQ(alice->run("rm '" + progress.string() + "' && ln -s '" + victim.string() + "' '" +
                                    progress.string() + "'"),
                         0); }},
        {"the file is a FIFO",
         [&] { ASSERT_EQ(alice->run("rm '" + progress.string() + "' && mkfifo '" + progress.string() + "'"), 0); }},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.what);
        fs::remove_all(temporary);
        fs::create_directory(temporary);
        fs::permissions(temporary, fs::perms(0777));
        ASSERT_EQ(alice->run("umask 077; mkdir '" + folder + "' && : > '" + progress.string() + "'"), 0);
        attack.attack();
        const TaskEnd end = runAsRoot();
        EXPECT_NE(end.status, 0);
        EXPECT_NE(end.errorOutput.find(contract::progressFileUnsafe), std::string::npos) << end.errorOutput;
        EXPECT_EQ(readFile(victim), "precious\n");
        EXPECT_FALSE(fs::exists(scratch / "genuine-ran"));
    }
}

} // namespace
} // namespace tarnhollow
