// Reading the progress file whole: what is there, nothing more, nothing less.
#include "platform/posix/PosixFileSystem.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace tarnhollow {
namespace {

TEST(PosixFileSystemTest, ReadsWholeFilesAndAnswersNothingForWhatIsNoFile)
{
    PosixFileSystem files;
    testing::ScratchFolder scratch;
    const auto folder = scratch.path();

    std::string large;
    for (int line = 0; large.size() < (3u << 20); ++line)
        large += "Collecting item " + std::to_string(line) + " (1/2)\n";
    std::ofstream(folder / "large", std::ios::binary) << large;
    auto content = files.readWholeFile(folder / "large");
    ASSERT_TRUE(content);
    EXPECT_TRUE(content->view() == large);

    ASSERT_TRUE(files.createEmptyFile(folder / "empty"));
    content = files.readWholeFile(folder / "empty");
    ASSERT_TRUE(content);
    EXPECT_TRUE(content->empty());

    EXPECT_FALSE(files.readWholeFile(folder / "missing"));
    EXPECT_FALSE(files.readWholeFile(folder));
}

TEST(PosixFileSystemTest, ContentsGrowWithoutLosingWhatWasRead)
{
    FileContents content(4);
    std::memcpy(content.unread(), "abcd", 4);
    content.advance(4);
    EXPECT_EQ(content.room(), 0u);
    content.grow(3);
    std::memcpy(content.unread(), "efg", 3);
    content.advance(3);
    EXPECT_EQ(content.view(), "abcdefg");
}

} // namespace
} // namespace tarnhollow
