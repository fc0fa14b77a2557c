// The zip writer's output, read by other programs: entries that may pass
// 4 GiB carry their sizes in the local header's zip64 field, where a reader
// from a pipe looks for them.
#include "collector-tool/Archive.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace tarnhollow::tool {
namespace {

std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += static_cast<char>(c);
        ::pclose(pipe);
    }
    return text;
}

TEST(ArchiveTest, EntriesBoundAboveFourGibibytesReadFromAPipe)
{
    testing::ScratchFolder work;
    const std::string path = work / "a.zip";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const int folder = ::open(work.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ScratchFile directory;
    ASSERT_EQ(ScratchFile::create(folder, directory), 0);
    ::close(folder);
    {
        Archive archive(fd, std::move(directory));
        for (const bool deflated : {true, false}) {
            archive.begin(deflated ? "big-deflated" : "big-stored", {0, 0100644, deflated, 5ull << 30});
            archive.write("hello", 5);
            archive.writeZeros(1 << 20);
            ASSERT_TRUE(archive.end());
        }
        ASSERT_TRUE(archive.close());
    }
    ::close(fd);
    for (const char* name : {"big-deflated", "big-stored"}) {
        EXPECT_EQ(output("bsdtar -xOf - " + std::string(name) + " < '" + path + "' | head -c 5"), "hello");
        EXPECT_EQ(output("unzip -p '" + path + "' " + name + " | wc -c"), "1048581\n");
    }
}

} // namespace
} // namespace tarnhollow::tool
