// The progress file: made afresh only, read as a regular file only, never
// through a link, never with a wait.
#include "platform/posix/PosixFileSystem.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace tarnhollow {
namespace {

namespace fs = std::filesystem;

TEST(PosixFileSystemTest, MakesAndReadsRegularFilesOnlyAndRefusesEverythingElse)
{
    PosixFileSystem files;
    testing::ScratchFolder scratch;
    const auto folder = scratch.path(), file = folder / "progress.out";
    ASSERT_TRUE(files.createEmptyFile(file));
    EXPECT_FALSE(files.createEmptyFile(file)) << "never one that is already there";
    std::ofstream(file, std::ios::binary) << "Collecting ログ (1/2)\n";
    const auto named = files.regularFileStatus(file);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->size, 24u);
    auto opened = files.openRegularFile(file);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->status()->sameFile(*named));
    char bytes[8] = {};
    EXPECT_EQ(opened->readAt(11, bytes, sizeof bytes), 8u);
    EXPECT_EQ(std::string(bytes, 8), "ログ (");
    EXPECT_EQ(opened->readAt(20, bytes, sizeof bytes), 4u);
    EXPECT_EQ(opened->readAt(24, bytes, sizeof bytes), 0u);
    // Replaced under its name: another file.
    fs::rename(file, folder / "old.out");
    std::ofstream(file) << "x";
    EXPECT_FALSE(files.regularFileStatus(file)->sameFile(*opened->status()));

    fs::create_symlink(file, folder / "link");
    fs::create_symlink("/dev/zero", folder / "zero");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    // Opening the FIFO would wait for a writer forever if it were not refused without waiting.
    for (const char* name : {"link", "zero", "fifo", "missing", "."}) {
        EXPECT_FALSE(files.regularFileStatus(folder / name)) << name;
        EXPECT_FALSE(files.openRegularFile(folder / name)) << name;
        EXPECT_EQ(files.createEmptyFile(folder / name), name == std::string("missing")) << name;
    }
    EXPECT_FALSE(files.openRegularFile("/dev/zero"));
    EXPECT_FALSE(files.removeItem(folder / "absent"));
    EXPECT_FALSE(files.removeItem(folder)) << "never recursive";
}

} // namespace
} // namespace tarnhollow
