#include "collector-tool/Items.h"
#include "collector-tool/LiveCommand.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

namespace tarnhollow::tool {
namespace {

    using Outcome = LiveResult::Outcome;

    // A killed process may linger a moment as a zombie until its parent reaps it.
    bool goneOrZombie(const std::string& pid)
    {
        for (int i = 0; i < 200; std::this_thread::sleep_for(std::chrono::milliseconds(20)), ++i) {
            std::ifstream stat("/proc/" + pid + "/stat");
            std::string text;
            std::getline(stat, text);
            const auto close = text.rfind(')');
            if (!stat || close == std::string::npos || text.substr(close + 2, 1) == "Z")
                return true;
        }
        return false;
    }

    TEST(RunLiveCommand, OutcomesOfRealPrograms)
    {
        struct Case {
            const char* what;
            std::vector<std::string> argv;
            int timeout;
            Outcome outcome;
            int exitStatus;
            const char* output; // exact; nullptr: a pid that must be gone
            const char* note; // contained
        };
        const Case cases[] = {
            { "runs", { "/bin/echo", "hello" }, 5, Outcome::ran, 0, "hello\n", "" },
            { "empty environment", { "/usr/bin/env" }, 5, Outcome::ran, 0, "", "" },
            { "stdin is /dev/null", { "/bin/cat" }, 5, Outcome::ran, 0, "", "" }, // else it waits forever
            { "both streams", { "/bin/sh", "-c", "echo out; echo err >&2" }, 5, Outcome::ran, 0, "out\nerr\n", "" },
            { "exit status", { "/bin/sh", "-c", "exit 3" }, 5, Outcome::ran, 3, "", "" },
            { "signal", { "/bin/sh", "-c", "kill -9 $$" }, 5, Outcome::failed, 0, "", "signal 9" },
            { "missing", { "/nonexistent/probe" }, 5, Outcome::missing, 0, "", "no /nonexistent/probe" },
            { "no PATH search", { "sh", "-c", "echo ran" }, 5, Outcome::failed, 0, "", "full path" },
            { "no program", {}, 5, Outcome::failed, 0, "", "full path" },
            // A grandchild holds the output open and outlives its parent's kill.
            { "hangs", { "/bin/sh", "-c", "/bin/sleep 60 & echo $!; exec /bin/sleep 60" }, 1, Outcome::timedOut, 0,
                nullptr, "killed after 1 s" },
            { "leaves a child", { "/bin/sh", "-c", "/bin/sleep 60 & echo $!" }, 5, Outcome::ran, 0, nullptr, "" },
        };
        testing::ScratchFolder scratch;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            const auto file = scratch / std::to_string(&c - cases);
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            const LiveResult result = runLiveCommand({ c.what, c.argv, c.timeout }, fd);
            ::close(fd);
            std::ifstream in(file);
            const std::string output { std::istreambuf_iterator<char>(in), {} };
            EXPECT_EQ(result.outcome, c.outcome) << result.note;
            EXPECT_EQ(result.exitStatus, c.exitStatus);
            EXPECT_NE(result.note.find(c.note), std::string::npos) << result.note;
            EXPECT_TRUE(c.output ? output == c.output : goneOrZombie(output)) << output;
        }
    }

    TEST(RunLiveCommand, RefusesProgramsOthersCouldHavePlaced)
    {
        testing::ScratchFolder scratch;
        std::ofstream(scratch / "tool") << "#!/bin/sh\ntouch '" << (scratch / "ran").string() << "'\n";
        std::filesystem::permissions(scratch / "tool", std::filesystem::perms::owner_all);
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
        const LiveResult result = runLiveCommand({ "tool", { (scratch / "tool").string() }, 5 }, -1);
        EXPECT_EQ(result.outcome, Outcome::failed);
        EXPECT_NE(result.note.find("writable by others"), std::string::npos) << result.note;
        EXPECT_FALSE(std::filesystem::exists(scratch / "ran"));
    }

    // Both tables name each command by full path, under a distinct name fit for a file name.
    TEST(ItemTables, CommandsByFullPathWithDistinctNames)
    {
        for (const ItemSystem system : { ItemSystem::linuxSystem, ItemSystem::macosSystem }) {
            std::set<std::string> names;
            for (const Item& item : collectionItems(system))
                for (const auto& command : item.commands) {
                    EXPECT_EQ(command.argv.at(0).front(), '/') << command.name;
                    EXPECT_TRUE(names.insert(command.name).second) << command.name;
                    EXPECT_EQ(command.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_"), std::string::npos);
                }
        }
    }

} // namespace
} // namespace tarnhollow::tool
