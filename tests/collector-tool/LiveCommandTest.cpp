#include "collector-tool/LiveCommand.h"
#include "collector-tool/Items.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace tarnhollow::tool {
namespace {

    using Outcome = LiveResult::Outcome;

    std::string readAll(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A killed process may linger a moment as a zombie until its parent reaps it.
    bool goneOrZombie(pid_t pid)
    {
        for (int i = 0; i < 200; ++i) {
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string text;
            std::getline(stat, text);
            const auto close = text.rfind(')');
            if (!stat || close == std::string::npos || text.substr(close + 2, 1) == "Z")
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    struct Case {
        const char* what;
        std::vector<std::string> argv;
        int timeout;
        Outcome outcome;
        int exitStatus;
        const char* output; // exact, or nullptr to skip
        const char* note; // contained
        bool leavesPid = false; // the output's first line is a pid that must be gone
    };

    TEST(RunLiveCommand, OutcomesOfRealPrograms)
    {
        const Case cases[] = {
            { "runs", { "/bin/echo", "hello" }, 5, Outcome::ran, 0, "hello\n", "" },
            { "empty environment", { "/usr/bin/env" }, 5, Outcome::ran, 0, "", "" },
            // Would wait for input forever if stdin were inherited.
            { "stdin is /dev/null", { "/bin/cat" }, 5, Outcome::ran, 0, "", "" },
            { "both streams", { "/bin/sh", "-c", "echo out; echo err >&2" }, 5, Outcome::ran, 0, "out\nerr\n",
                "" },
            { "exit status", { "/bin/sh", "-c", "exit 3" }, 5, Outcome::ran, 3, "", "" },
            { "signal", { "/bin/sh", "-c", "kill -9 $$" }, 5, Outcome::failed, 0, "", "signal 9" },
            { "missing", { "/nonexistent/tarnhollow-probe" }, 5, Outcome::missing, 0, "",
                "no /nonexistent/tarnhollow-probe" },
            { "no PATH search", { "sh", "-c", "echo ran" }, 5, Outcome::failed, 0, "", "full path" },
            { "no program", {}, 5, Outcome::failed, 0, "", "full path" },
            // A grandchild holds the output open and outlives its parent's kill.
            { "hangs", { "/bin/sh", "-c", "/bin/sleep 60 & echo $!; exec /bin/sleep 60" }, 1,
                Outcome::timedOut, 0, nullptr, "killed after 1 s", true },
            { "leaves a child behind", { "/bin/sh", "-c", "/bin/sleep 60 & echo $!" }, 5, Outcome::ran, 0,
                nullptr, "", true },
        };
        testing::ScratchFolder scratch;
        int n = 0;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            const auto file = scratch / ("out" + std::to_string(++n));
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            const LiveResult result = runLiveCommand({ c.what, c.argv, c.timeout }, fd);
            ::close(fd);
            const std::string output = readAll(file);
            EXPECT_EQ(result.outcome, c.outcome) << result.note;
            EXPECT_EQ(result.exitStatus, c.exitStatus);
            EXPECT_NE(result.note.find(c.note), std::string::npos) << result.note;
            if (c.output) {
                EXPECT_EQ(output, c.output);
            }
            if (c.leavesPid) {
                EXPECT_TRUE(goneOrZombie(std::stoi(output))) << output;
            }
        }
    }

    TEST(RunLiveCommand, RefusesProgramsOthersCouldHavePlaced)
    {
        testing::ScratchFolder scratch;
        const auto marker = scratch / "ran";
        const auto program = scratch / "tool";
        std::ofstream(program) << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
        const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        const LiveResult result = runLiveCommand({ "tool", { program.string() }, 5 }, fd);
        ::close(fd);
        EXPECT_EQ(result.outcome, Outcome::failed);
        EXPECT_NE(result.note.find("writable by others"), std::string::npos) << result.note;
        EXPECT_FALSE(std::filesystem::exists(marker));
    }

    // What the collector relies on in both tables: live items come first, and
    // each command has a full path and a name that can become a file name.
    TEST(ItemTables, LiveItemsFirstWithFullPathsAndDistinctNames)
    {
        for (const ItemSystem system : { ItemSystem::linuxSystem, ItemSystem::macosSystem }) {
            SCOPED_TRACE(systemName(system));
            const auto& items = collectionItems(system);
            std::set<std::string> names;
            bool filesStarted = false;
            for (const Item& item : items) {
                EXPECT_NE(item.patterns.empty(), item.commands.empty()) << item.name;
                filesStarted = filesStarted || item.commands.empty();
                EXPECT_TRUE(item.commands.empty() || !filesStarted) << item.name;
                for (const auto& command : item.commands) {
                    ASSERT_FALSE(command.argv.empty());
                    EXPECT_EQ(command.argv[0].front(), '/') << command.name;
                    EXPECT_TRUE(names.insert(command.name).second) << command.name;
                    EXPECT_EQ(command.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_"),
                        std::string::npos)
                        << command.name;
                }
            }
        }
        EXPECT_EQ(systemNamed("macos"), ItemSystem::macosSystem);
        EXPECT_EQ(systemNamed("linux"), ItemSystem::linuxSystem);
        EXPECT_FALSE(systemNamed("windows"));
    }

} // namespace
} // namespace tarnhollow::tool
