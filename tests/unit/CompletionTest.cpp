// The end of a run: the last line, the progress file, and the three outcomes.
#include "collect/LastLine.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;
using State = AppDelegate::State;
using Log = std::vector<std::string>;
namespace fs = std::filesystem;

TEST(LastLineTest, OnlyLoneLineFeedsSeparateAndEmptyPiecesAreSkipped)
{
    using lines::lastNonEmptyLine;
    EXPECT_EQ(lastNonEmptyLine(""), "");
    EXPECT_EQ(lastNonEmptyLine("\n\n\n"), "");
    EXPECT_EQ(lastNonEmptyLine("a\nb\n\n"), "b");
    EXPECT_EQ(lastNonEmptyLine("a\n   \n"), "   ");
    EXPECT_EQ(lastNonEmptyLine("only"), "only");
    EXPECT_EQ(lastNonEmptyLine("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(lastNonEmptyLine("a\nb\r\nc\r\n\n\n"), "b\r\nc\r\n");
    EXPECT_EQ(lastNonEmptyLine("a\n\rb"), "\rb");
    EXPECT_EQ(lastNonEmptyLine("a\nb\u2028c\rd"), "b\u2028c\rd");
    std::string longText(5000, 'x');
    EXPECT_EQ(lastNonEmptyLine(longText + "\nエラー: 容量不足\n" + std::string(40, '\n')), "エラー: 容量不足");
}

TEST(LastLineTest, TrimsUnicodeWhiteSpaceAndLineEndsAtBothEnds)
{
    using lines::trimWhitespaceAndNewlines;
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n\v\f\u0085\u00A0\u2028\u2029\u3000\u2009\u202F\u205F\u1680"
                                        "execution error (1)"
                                        " \u3000\u2000\u200A\n"),
              "execution error (1)");
    EXPECT_EQ(trimWhitespaceAndNewlines("a \n b"), "a \n b");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \n\u3000 "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
    // Not white space: zero width space, word joiner, the old Mongolian vowel separator.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200Bx\u2060\u180E"), "\u200Bx\u2060\u180E");
    EXPECT_EQ(trimWhitespaceAndNewlines(" ロ "), "ロ");
}

class CompletionTest : public ::testing::Test {
protected:
    testing::ScratchFolder scratch;
    fs::path folder = scratch.path();
    fs::path output = folder / "stick";
    fs::path file = folder / "tarnhollow-run.out";
    RecordingPlatform fake;
    Platform platform = fake.platform();
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;

    void SetUp() override
    {
        fs::create_directories(output);
        fake.bundle = output / "Tarnhollow.app";
        fake.temporary = folder;
        fake.uuids.push_back("RUN");
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        probe->state() = State::running;
        probe->progressURL() = file;
    }

    void write(const std::string& content) { std::ofstream(file, std::ios::binary) << content; }

    Log finish(int32_t status, const std::string& errorOutput)
    {
        fake.takeLog();
        probe->finished(status, errorOutput);
        EXPECT_FALSE(probe->progressURL());
        EXPECT_FALSE(probe->hasTimer());
        return fake.takeLog();
    }

    static std::string failureDetail(const std::string& message)
    {
        return "detail.setStringValue: " + message + "\nログがあれば保存先を確認してください: ";
    }
};

TEST_F(CompletionTest, SuccessStopsTheTimerPollsDeletesAndShowsTheDoneScreenInOrder)
{
    // A whole run: the timer from the start, then the task's end on the main queue.
    probe->state() = State::ready;
    probe->start();
    ASSERT_TRUE(probe->progressURL());
    const fs::path progress = *probe->progressURL();
    ASSERT_EQ(progress.filename(), "tarnhollow-RUN.out");
    std::ofstream(*probe->progressURL()) << "Collecting ログ (4/4)\n(-128) is fine here\n";
    std::ofstream(output / "artifacts.zip") << "zip";
    fake.endTask(0, "execution error (-128)");
    fake.takeLog();
    fake.runMainQueue();

    EXPECT_EQ(fake.takeLog(),
              (Log{"timer.invalidate", "bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setMaxValue: 4",
                   "bar.setDoubleValue: 3", "status.setStringValue: 収集中… 4 / 4", "detail.setStringValue: ログ",
                   "bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setDoubleValue: 4",
                   "status.setStringValue: 収集が完了しました",
                   "detail.setStringValue: 保存先: " + (output / "artifacts.zip").string(),
                   "button.setTitle: Finder で表示", "button.setEnabled: YES"}));
    EXPECT_EQ(controller->currentState(), State::done);
    EXPECT_FALSE(probe->progressURL());
    EXPECT_FALSE(fs::exists(progress.parent_path())) << "the run's private folder goes with its file";
    EXPECT_EQ(fake.liveTimers(), 0);
    fake.advance(5);
    EXPECT_EQ(fake.takeLog(), Log{});
}

TEST_F(CompletionTest, SuccessWithoutProgressOrArchiveFillsTheBarAndNamesTheFolder)
{
    write("");
    fake.bar.maxValue = 100;
    EXPECT_EQ(finish(0, ""), (Log{"bar.stopAnimation", "bar.setIndeterminate: NO", "bar.setDoubleValue: 100",
                                  "status.setStringValue: 収集が完了しました",
                                  "detail.setStringValue: 保存先: " + output.string(),
                                  "button.setTitle: Finder で表示", "button.setEnabled: YES"}));
    EXPECT_FALSE(fake.bar.hidden);
    EXPECT_EQ(fake.bar.value, 100);
}

TEST_F(CompletionTest, CancellationIsReadFromTheErrorOutputOnly)
{
    write("Collecting x (1/2)\n");
    const Log log = finish(1, "0:42: execution error: User canceled. (-128)\n");
    EXPECT_EQ(controller->currentState(), State::ready);
    EXPECT_EQ(fake.status.text, "キャンセルしました");
    EXPECT_NE(std::find(log.begin(), log.end(), "status.setStringValue: 収集中… 1 / 2"), log.end());
    EXPECT_FALSE(fs::exists(file));

    probe->state() = State::running;
    probe->progressURL() = file;
    write("error (-128)\n");
    finish(1, "");
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.detail.text.substr(0, fake.detail.text.find('\n')), "error (-128)");
}

TEST_F(CompletionTest, FailureShowsTheLastNonEmptyLineUnchanged)
{
    const struct {
        std::string content, shown;
    } cases[] = {
        {"Collecting x (1/2)\nerror: disk full\n\n\n", "error: disk full"},
        {"a\n   \n", "   "},
        {"first\r\nsecond\r\n", "first\r\nsecond\r\n"},
    };
    for (const auto& c : cases) {
        probe->state() = State::running;
        probe->progressURL() = file;
        write(c.content);
        const Log log = finish(2, "  runner says something else\n");
        EXPECT_EQ(controller->currentState(), State::failed);
        EXPECT_NE(std::find(log.begin(), log.end(), failureDetail(c.shown) + output.string()), log.end())
            << c.content;
        EXPECT_FALSE(fs::exists(file));
    }
}

TEST_F(CompletionTest, FailureFallsBackToTheTrimmedErrorOutput)
{
    for (std::string content : {"", "\n\n", "half \xE3\x81"}) {
        probe->state() = State::running;
        probe->progressURL() = file;
        write(content);
        finish(1, "\u3000 sh: tarnhollow: Permission denied\u2028\r\n");
        EXPECT_EQ(fake.detail.text, "sh: tarnhollow: Permission denied\nログがあれば保存先を確認してください: " +
                                        output.string());
    }

    // No file at all, and nothing on the error output: an empty message.
    probe->state() = State::running;
    probe->progressURL().reset();
    finish(1, " \n");
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.detail.text, "\nログがあれば保存先を確認してください: " + output.string());
}

TEST_F(CompletionTest, FailedDeletionChangesNothingButLeavesTheFile)
{
    fake.failRemove = true;
    write("fatal: cannot open /var/db\n");
    finish(1, "");
    EXPECT_EQ(controller->currentState(), State::failed);
    EXPECT_EQ(fake.detail.text.substr(0, fake.detail.text.find('\n')), "fatal: cannot open /var/db");
    EXPECT_TRUE(fs::exists(file));

    probe->progressURL() = file;
    finish(0, "");
    EXPECT_EQ(controller->currentState(), State::done);
}

} // namespace
} // namespace tarnhollow
