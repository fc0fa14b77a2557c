#include "collector-tool/LiveCommand.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace tarnhollow::tool {
namespace {

using Outcome = LiveResult::Outcome;

// A killed process may linger a moment as a zombie until its parent reaps it.
bool goneOrZombie(const std::string& pid)
{
    for (int i = 0; i < 200; std::this_thread::sleep_for(std::chrono::milliseconds(20)), ++i) {
        std::ifstream stat("/proc/" + pid + "/stat");
        const std::string text{std::istreambuf_iterator<char>(stat), {}};
        if (text.empty() || text.find(") Z ") != std::string::npos)
            return true;
    }
    return false;
}

TEST(RunLiveCommand, OutcomesOfRealPrograms)
{
    // The output exactly, or nullptr for a pid that must be gone; a part of the note.
    struct Case {
        const char* what;
        std::vector<std::string> argv;
        int timeout;
        Outcome outcome;
        int exitStatus;
        const char* output;
        const char* note;
    };
    testing::ScratchFolder scratch;
    const std::string placed = (scratch / "tool").string(); // in a folder others can write to
    std::ofstream(placed) << "#!/bin/sh\necho ran\n";
    std::filesystem::permissions(placed, std::filesystem::perms::owner_all);
    const Case cases[] = {
        {"runs", {"/bin/echo", "hello"}, 5, Outcome::ran, 0, "hello\n", ""},
        {"empty environment", {"/usr/bin/env"}, 5, Outcome::ran, 0, "", ""},
        {"stdin is /dev/null", {"/bin/cat"}, 5, Outcome::ran, 0, "", ""}, // else it waits forever
        {"both streams", {"/bin/sh", "-c", "echo out; echo err >&2"}, 5, Outcome::ran, 0, "out\nerr\n", ""},
        {"exit status", {"/bin/sh", "-c", "exit 3"}, 5, Outcome::ran, 3, "", ""},
        {"signal", {"/bin/sh", "-c", "kill -9 $$"}, 5, Outcome::failed, 0, "", "signal 9"},
        {"missing", {"/nonexistent/probe"}, 5, Outcome::missing, 0, "", "no /nonexistent/probe"},
        {"no PATH search", {"sh", "-c", "echo ran"}, 5, Outcome::failed, 0, "", "full path"},
        {"no program", {}, 5, Outcome::failed, 0, "", "full path"},
        // A grandchild holds the output open and outlives its parent's kill.
        {"hangs",
         {"/bin/sh", "-c", "/bin/sleep 60 & echo $!; exec /bin/sleep 60"},
         1,
         Outcome::timedOut,
         0,
         nullptr,
         "killed after 1 s"},
        {"leaves a child", {"/bin/sh", "-c", "/bin/sleep 60 & echo $!"}, 5, Outcome::ran, 0, nullptr, ""},
        {"placed by others", {placed}, 5, Outcome::failed, 0, "", "writable by others"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = scratch / std::to_string(&c - cases);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const LiveResult result = runLiveCommand({c.what, c.argv, c.timeout}, fd);
        ::close(fd);
        std::ifstream in(file);
        const std::string output{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(result.outcome, c.outcome) << result.note;
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_NE(result.note.find(c.note), std::string::npos) << result.note;
        EXPECT_TRUE(c.output ? output == c.output : goneOrZombie(output)) << output;
    }
}

} // namespace
} // namespace tarnhollow::tool
