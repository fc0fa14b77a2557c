// Choosing the output folder, and finding the archive a run wrote.
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;

std::filesystem::path outputFolderFor(const std::string& bundle)
{
    RecordingPlatform fake;
    fake.bundle = bundle;
    fake.home = "/Users/analyst";
    return AppDelegateProbe::defaultOutputDir(fake);
}

TEST(DefaultOutputDirTest, TranslocatedBundleWritesToTheDesktop)
{
    EXPECT_EQ(outputFolderFor("/private/var/folders/xy/T/AppTranslocation/1A2B/d/Tarnhollow.app"),
              "/Users/analyst/Desktop");
    EXPECT_EQ(outputFolderFor("/AppTranslocation/Tarnhollow.app"), "/Users/analyst/Desktop");
}

TEST(DefaultOutputDirTest, AnythingElseWritesBesideTheBundle)
{
    EXPECT_EQ(outputFolderFor("/private/var/folders/xy/T/apptranslocation/1A2B/d/Tarnhollow.app"),
              "/private/var/folders/xy/T/apptranslocation/1A2B/d");
    EXPECT_EQ(outputFolderFor("/Applications/Tarnhollow.app").string(), "/Applications");
    EXPECT_EQ(outputFolderFor("/Volumes/USB 証拠/Case's $data/Tarnhollow.app").string(),
              "/Volumes/USB 証拠/Case's $data");
    EXPECT_EQ(outputFolderFor("/Volumes/AppTranslocation-ish/Tarnhollow.app"), "/Volumes/AppTranslocation-ish");
}

TEST(DefaultOutputDirTest, InstalledCopyWritesToTheDesktopAKitBesideItself)
{
    RecordingPlatform fake;
    fake.bundle = "/opt/tarnhollow/Tarnhollow.app";
    fake.desktop = "/home/analyst/デスクトップ";
    fake.installed = true;
    EXPECT_EQ(AppDelegateProbe::defaultOutputDir(fake), "/home/analyst/デスクトップ");
    fake.installed = false;
    EXPECT_EQ(AppDelegateProbe::defaultOutputDir(fake), "/opt/tarnhollow");
}

class NewestZipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.bundle = folder / "Tarnhollow.app";
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        probe->startDate() = start;
    }

    // An entry whose modification time is `offset` from the run's start.
    std::filesystem::path entry(const std::string& name, std::chrono::nanoseconds offset, bool directory = false)
    {
        auto path = folder / name;
        if (directory)
            std::filesystem::create_directories(path);
        else
            std::ofstream(path) << "PK";
        const auto when = (start + offset).time_since_epoch().count();
        const timespec times[2] = {{when / 1'000'000'000, when % 1'000'000'000},
                                   {when / 1'000'000'000, when % 1'000'000'000}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    RecordingPlatform fake;
    Platform platform = fake.platform();
    testing::ScratchFolder scratch;
    const std::filesystem::path folder = scratch.path();
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;
    const Date start = Date(std::chrono::seconds(1'750'000'000) + std::chrono::nanoseconds(123'456'789));
};

using namespace std::chrono_literals;

TEST_F(NewestZipTest, ArchiveAtTheStartCountsOneAMomentBeforeDoesNot)
{
    entry("before.zip", -1us);
    EXPECT_EQ(probe->newestZip(), std::nullopt);
    auto exact = entry("exact.zip", 0ns);
    EXPECT_EQ(probe->newestZip(), exact);
}

TEST_F(NewestZipTest, LatestWinsWhateverTheListingOrder)
{
    entry("old.zip", -3600s);
    entry("a.zip", 2s);
    auto latest = entry("b.zip", 2s + 500ms);
    entry("c.zip", 1s);
    EXPECT_EQ(probe->newestZip(), latest);
}

TEST_F(NewestZipTest, AmongEqualTimesTheFirstListedWins)
{
    entry("one.zip", 5s);
    entry("two.zip", 5s);
    entry("three.zip", 5s);
    auto listing = fake.contentsOfDirectory(folder);
    ASSERT_TRUE(listing);
    EXPECT_EQ(probe->newestZip(), listing->front());
}

TEST_F(NewestZipTest, OnlyTheExactLowerCaseExtensionCounts)
{
    entry("CASE.ZIP", 1s);
    entry("case.Zip", 1s);
    entry("archive.zip.part", 1s);
    entry("zip", 1s);
    EXPECT_EQ(probe->newestZip(), std::nullopt);
}

TEST_F(NewestZipTest, HiddenEntriesCountButFoldersLinksAndSubfoldersDoNot)
{
    entry("sub", 0s, true);
    entry("sub/deep.zip", 9s);
    entry("sub", 0s, true); // writing into it moved its time; put it back
    entry("bundle.zip", 8s, true);
    auto hidden = entry(".hidden.zip", 3s);
    std::filesystem::create_symlink(hidden, folder / "link.zip");
    // Another user's archive, however new, was planted.
    if (::getuid() == 0) {
        EXPECT_EQ(::chown(entry("planted.zip", 20s).c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(probe->newestZip(), hidden);
}

TEST_F(NewestZipTest, MissingFolderGivesNone)
{
    std::filesystem::remove_all(folder);
    EXPECT_EQ(probe->newestZip(), std::nullopt);
}

} // namespace
} // namespace tarnhollow
