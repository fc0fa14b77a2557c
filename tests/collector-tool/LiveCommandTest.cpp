#include "collector-tool/LiveCommand.h"
#include "collector-tool/Collection.h"
#include "collector-tool/Items.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

std::string member(const std::filesystem::path& archive, const std::string& name)
{
    FILE* pipe = ::popen(("unzip -p '" + archive.string() + "' '" + name + "' 2>/dev/null").c_str(), "r");
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    ::pclose(pipe);
    return text;
}

// Within a whole collection, read back with unzip: a missing or hanging program only leaves a note.
TEST(CollectionLive, OutputArchivedAndEveryOutcomeNoted)
{
    testing::ScratchFolder folder;
    const std::vector<Item> items = {{"Files", {"/etc/hostname"}},
                                     liveItem("Live", {{"echo", {"/bin/echo", "hello"}},
                                                       {"missing", {"/nonexistent/tool"}},
                                                       {"hang", {"/bin/sleep", "30"}, 1}})};
    SourceTree tree;
    std::string error;
    ASSERT_TRUE(tree.open("/", error)) << error;
    const int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    RunScratch scratch;
    ScratchFile directory;
    for (ScratchFile* file : {&scratch.manifest, &scratch.timeline, &scratch.log, &directory})
        ASSERT_EQ(ScratchFile::create(dir, *file), 0);
    scratch.folderFd = dir;
    const auto path = folder / "out.zip";
    const int out = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    RunInfo info;
    info.root = "/";
    {
        Archive archive(out, std::move(directory));
        EXPECT_TRUE(Collection(tree, items, info, std::move(scratch)).run(archive));
        EXPECT_TRUE(archive.close());
    }
    ::close(out);
    ::close(dir);
    EXPECT_EQ(member(path, "live/echo.txt"), "hello\n");
    const std::string manifest = member(path, "manifest.tsv");
    const std::string log = member(path, "collection.log");
    for (const auto& [row, note] :
         {std::pair{"live/echo\tcommand\t6\t", "ran, exit status 0"},
          std::pair{"live/missing\tcommand\t0\t", "not on this system (no /nonexistent/tool)"},
          std::pair{"live/hang\tcommand\t", "stopped at its limit of 1 s"}}) {
        const auto at = manifest.find(row);
        ASSERT_NE(at, std::string::npos) << row << "\n" << manifest;
        EXPECT_NE(manifest.substr(at, manifest.find('\n', at) - at).find(note), std::string::npos) << row;
        EXPECT_NE(log.find(note), std::string::npos) << log;
    }
    // Live data before files on disk, whatever the table's order.
    EXPECT_LT(log.find("1. Live: started"), log.find("2. Files: started")) << log;
}

// Both tables name each command by full path, under a distinct name fit for a file name.
TEST(ItemTables, CommandsByFullPathWithDistinctNames)
{
    for (const ItemSystem system : {ItemSystem::linuxSystem, ItemSystem::macosSystem}) {
        std::set<std::string> names;
        for (const Item& item : collectionItems(system))
            for (const auto& command : item.commands) {
                EXPECT_EQ(command.argv.at(0).front(), '/') << command.name;
                EXPECT_TRUE(names.insert(command.name).second) << command.name;
                const auto odd = command.name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_");
                EXPECT_EQ(odd, std::string::npos) << command.name;
            }
    }
}

} // namespace
} // namespace tarnhollow::tool
