// Polling the progress file: what reaches the headline, the detail and the bar.
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;
using Log = std::vector<std::string>;
namespace fs = std::filesystem;

class PollTest : public ::testing::Test {
protected:
    RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller = AppDelegate::create(platform);
    AppDelegateProbe probe{*controller};
    testing::ScratchFolder scratch;
    fs::path folder = scratch.path();
    fs::path file = folder / "tarnhollow-run.out";

    void SetUp() override
    {
        probe.progressURL() = file;
    }

    // Another file with this content in the progress file's place.
    void write(const std::string& content)
    {
        std::ofstream(folder / "next", std::ios::binary) << content;
        fs::rename(folder / "next", file);
    }

    Log pollWith(const std::string& content)
    {
        write(content);
        fake.takeLog();
        probe.poll();
        return fake.takeLog();
    }
};

TEST_F(PollTest, NothingChangesWithoutReadableNonEmptyUtf8Text)
{
    const std::string valid = "Collecting ログ (1/5)\n";
    probe.progressURL().reset();
    EXPECT_EQ(pollWith(valid), Log{});

    probe.progressURL() = folder / "missing.out";
    EXPECT_EQ(pollWith(valid), Log{});

    probe.progressURL() = folder; // a folder cannot be read as text
    EXPECT_EQ(pollWith(valid), Log{});

    probe.progressURL() = file;
    EXPECT_EQ(pollWith(""), Log{});
    EXPECT_EQ(pollWith(valid + "tail \xFF\n"), Log{});
    EXPECT_EQ(pollWith("\xC0\xAF" + valid), Log{});
}

TEST_F(PollTest, FirstProgressLineMakesTheBarDeterminateOnce)
{
    ASSERT_TRUE(fake.bar.indeterminate);
    EXPECT_EQ(pollWith("password accepted\nCollecting ログ (1/5)\n"),
              (Log{"bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setMaxValue: 5", "bar.setDoubleValue: 0",
                   "status.setStringValue: 収集中… 1 / 5", "detail.setStringValue: ログ"}));

    EXPECT_EQ(pollWith("Collecting ログ (1/5)\nCollecting ブラウザ履歴 (2/5)\nwarning: skipped\n"),
              (Log{"bar.setMaxValue: 5", "bar.setDoubleValue: 1", "status.setStringValue: 収集中… 2 / 5",
                   "detail.setStringValue: ブラウザ履歴"}));
}

TEST_F(PollTest, CountsAndNamesAsTheCollectorWroteThem)
{
    EXPECT_EQ(pollWith("Collecting x (007/010)\r\n"),
              (Log{"bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setMaxValue: 10", "bar.setDoubleValue: 6",
                   "status.setStringValue: 収集中… 7 / 10", "detail.setStringValue: x"}));

    pollWith("Collecting a (1/2) b (3/4)\n");
    EXPECT_EQ(fake.status.text, "収集中… 3 / 4");
    EXPECT_EQ(fake.detail.text, "a (1/2) b");

    // m = 0 and n > m are shown as they are.
    EXPECT_EQ(pollWith("Collecting z (3/0)"), (Log{"bar.setMaxValue: 0", "bar.setDoubleValue: 2",
                                                   "status.setStringValue: 収集中… 3 / 0",
                                                   "detail.setStringValue: z"}));
}

TEST_F(PollTest, HugeCountsSaturateInsteadOfOverflowing)
{
    pollWith("Collecting big (9007199254740993/9223372036854775807)");
    EXPECT_EQ(fake.status.text, "収集中… 9007199254740992 / 9223372036854775807");

    pollWith("Collecting big (9223372036854775808/99999999999999999999999)");
    EXPECT_EQ(fake.status.text, "収集中… 9223372036854775807 / 9223372036854775807");

    const std::string hundreds(400, '9');
    pollWith("Collecting big (1/" + hundreds + ")");
    EXPECT_EQ(fake.status.text, "収集中… 1 / 9223372036854775807");
    EXPECT_TRUE(std::isfinite(fake.bar.maxValue));
    EXPECT_EQ(fake.bar.maxValue, std::numeric_limits<double>::max());
}

TEST_F(PollTest, UnusableLastLineShowsPreparingAndLeavesBarAndDetail)
{
    pollWith("Collecting good (2/4)\n");
    const Log preparing{"status.setStringValue: 収集を準備しています…"};

    // Only the last match counts, even when an earlier one converts.
    EXPECT_EQ(pollWith("Collecting good (2/4)\nCollecting wide (３/4)\n"), preparing);
    EXPECT_EQ(pollWith("Collecting good (2/4)\nCollecting kawi (3/\U00011F54)\n"), preparing);
    EXPECT_EQ(fake.detail.text, "good");
    EXPECT_EQ(fake.bar.maxValue, 4);
    EXPECT_EQ(fake.bar.value, 1);

    probe.progressURL() = file;
    RecordingPlatform fresh;
    Platform freshPlatform = fresh.platform();
    auto other = AppDelegate::create(freshPlatform);
    AppDelegateProbe otherProbe{*other};
    otherProbe.progressURL() = file;
    for (std::string text : {"Password:\n", "Collecting  (1/2)\n", "collecting x (1/2)\n",
                             "Collecting artifacts (pending)\n"}) {
        write(text);
        otherProbe.poll();
        EXPECT_EQ(fresh.takeLog(), preparing) << text;
    }
    EXPECT_TRUE(fresh.bar.indeterminate);
}

// Someone puts a FIFO or a link to an endless device in the file's place:
// the poll neither waits nor reads, and the screen stays as it is. Run in a
// child that an alarm ends, so that a wait fails the test instead of
// hanging it.
TEST_F(PollTest, FifoOrEndlessDeviceInItsPlaceIsPassedOver)
{
    pollWith("Collecting a (1/3)\n");
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const fs::path zero = folder / "zero.out";
    fs::create_symlink("/dev/zero", zero);
    EXPECT_EXIT(
        {
            ::alarm(10);
            fake.takeLog();
            probe.poll();
            probe.progressURL() = zero;
            probe.poll();
            std::_Exit(fake.takeLog().empty() && fake.detail.text == "a" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tarnhollow
