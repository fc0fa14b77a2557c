// Live commands inside a whole collection: their output lands in the
// archive and the manifest, and a missing or hanging program only leaves a
// note.
#include "collector-tool/Collection.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace tarnhollow::tool {
namespace {

    std::string member(const std::filesystem::path& archive, const std::string& name)
    {
        const std::string command = "unzip -p '" + archive.string() + "' '" + name + "' 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string text;
        char chunk[4096];
        for (std::size_t n; pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            text.append(chunk, n);
        if (pipe != nullptr)
            ::pclose(pipe);
        return text;
    }

    // Collects items from root into an archive in folder; returns its path.
    std::filesystem::path collect(
        const testing::ScratchFolder& folder, const std::vector<Item>& items, const std::string& root)
    {
        SourceTree tree;
        std::string error;
        EXPECT_TRUE(tree.open(root, error)) << error;
        const int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        RunScratch scratch;
        ScratchFile directory;
        for (ScratchFile* file : { &scratch.manifest, &scratch.timeline, &scratch.log, &directory })
            EXPECT_EQ(ScratchFile::create(dir, *file), 0);
        scratch.folderFd = dir;
        const auto path = folder / "out.zip";
        const int out = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        RunInfo info;
        info.root = root;
        {
            Archive archive(out, std::move(directory));
            Collection collection(tree, items, info, std::move(scratch));
            EXPECT_TRUE(collection.run(archive));
            EXPECT_TRUE(archive.close());
        }
        ::close(out);
        ::close(dir);
        return path;
    }

    TEST(CollectionLive, OutputArchivedAndEveryOutcomeNoted)
    {
        testing::ScratchFolder folder;
        const std::vector<Item> items = {
            { "Files", { "/etc/hostname" } },
            liveItem("Live",
                { { "echo", { "/bin/echo", "hello" } }, { "missing", { "/nonexistent/tool" } },
                    { "hang", { "/bin/sleep", "30" }, 1 } }),
        };
        const auto archive = collect(folder, items, "/");
        EXPECT_EQ(member(archive, "live/echo.txt"), "hello\n");
        const std::string manifest = member(archive, "manifest.tsv");
        const std::string log = member(archive, "collection.log");
        struct Case {
            const char* row;
            const char* note;
        };
        for (const Case& c : { Case { "live/echo\tcommand\t6\t", "ran, exit status 0" },
                 Case { "live/missing\tcommand\t0\t", "not on this system" },
                 Case { "live/hang\tcommand\t", "stopped at its limit of 1 s" } }) {
            const auto at = manifest.find(c.row);
            ASSERT_NE(at, std::string::npos) << c.row << "\n" << manifest;
            EXPECT_NE(manifest.substr(at, manifest.find('\n', at) - at).find(c.note), std::string::npos)
                << c.row;
            EXPECT_NE(log.find(c.note), std::string::npos) << log;
        }
        // Live data before files on disk, whatever the table's order.
        EXPECT_LT(log.find("1. Live: started"), log.find("2. Files: started")) << log;
    }

    TEST(CollectionLive, SkippedForACopiedTree)
    {
        testing::ScratchFolder folder;
        const std::vector<Item> items = { liveItem("Live", { { "echo", { "/bin/echo", "hello" } } }) };
        const auto archive = collect(folder, items, folder.path().string());
        EXPECT_EQ(member(archive, "live/echo.txt"), "");
        EXPECT_NE(member(archive, "collection.log").find("live commands skipped"), std::string::npos);
    }

} // namespace
} // namespace tarnhollow::tool
