// Live commands inside a whole collection, read back with unzip: their
// output lands in the archive and manifest; a missing or hanging program only
// leaves a note.
#include "collector-tool/Collection.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace tarnhollow::tool {
namespace {

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

    TEST(CollectionLive, OutputArchivedAndEveryOutcomeNoted)
    {
        testing::ScratchFolder folder;
        const std::vector<Item> items = {
            { "Files", { "/etc/hostname" } },
            liveItem("Live",
                { { "echo", { "/bin/echo", "hello" } }, { "missing", { "/nonexistent/tool" } },
                    { "hang", { "/bin/sleep", "30" }, 1 } }),
        };
        SourceTree tree;
        std::string error;
        ASSERT_TRUE(tree.open("/", error)) << error;
        const int dir = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        RunScratch scratch;
        ScratchFile directory;
        for (ScratchFile* file : { &scratch.manifest, &scratch.timeline, &scratch.log, &directory })
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
        for (const auto& [row, note] : { std::pair { "live/echo\tcommand\t6\t", "ran, exit status 0" },
                 std::pair { "live/missing\tcommand\t0\t", "not on this system (no /nonexistent/tool)" },
                 std::pair { "live/hang\tcommand\t", "stopped at its limit of 1 s" } }) {
            const auto at = manifest.find(row);
            ASSERT_NE(at, std::string::npos) << row << "\n" << manifest;
            EXPECT_NE(manifest.substr(at, manifest.find('\n', at) - at).find(note), std::string::npos) << row;
            EXPECT_NE(log.find(note), std::string::npos) << log;
        }
        // Live data before files on disk, whatever the table's order.
        EXPECT_LT(log.find("1. Live: started"), log.find("2. Files: started")) << log;
    }

} // namespace
} // namespace tarnhollow::tool
