// The reader that follows the growing progress file, against the engine's
// full search and a whole-file UTF-8 check of the file as it stands.
#include "collect/LastLine.h"
#include "collect/ProgressReader.h"
#include "collect/Utf8.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace tarnhollow {
namespace {

using testing::RecordingPlatform;
using MemoryFile = RecordingPlatform::MemoryFile;

class Random {
public:
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }

    // Collector-like output: matches, near misses and several candidates on
    // one line are all common; now and then a byte that is not UTF-8.
    std::string text()
    {
        static const std::vector<std::string> pieces = {
            "Collecting ", " (", "(", "1", "0", "/", ")", "\n", "\r\n", "\r", "\u2028", "\u0085", "\v", "５",
            "\U00011F50", "x", " ", "ロ", "collecting "};
        static const std::vector<std::string> digits = {"1", "0", "５", "\U00011F50", "x"};
        const std::size_t fragments = below(100) == 0 ? 200 : below(14);
        std::string text;
        for (std::size_t k = 0; k < fragments; ++k) {
            switch (below(10)) {
            case 0:
            case 1: text += "Collecting "; break;
            case 2:
            case 3: {
                std::string parts[5] = {" (", digits[below(digits.size())], "/", digits[below(digits.size())], ")"};
                if (below(3) == 0)
                    parts[1] += digits[below(digits.size())];
                for (auto& part : parts)
                    text += below(12) == 0 ? pieces[below(pieces.size())] : part;
                break;
            }
            default: text += pieces[below(pieces.size())]; break;
            }
        }
        if (below(60) == 0)
            text.insert(below(text.size() + 1), 1, "\xFF\x80\xC0"[below(3)]);
        return text;
    }

private:
    std::mt19937 engine_{20261206};
};

class ProgressReaderTest : public ::testing::Test {
protected:
    RecordingPlatform fake;
    TextServices& services = fake.text();
    std::unique_ptr<RegularExpression> reference = services.compile(progress::pattern);
    const std::filesystem::path path = "/memory/tarnhollow-run.out";

    // One poll, and what a whole-file read and full search would give.
    void expectSameAsWholeFile(ProgressReader& reader, const std::string& whole, bool lastLineToo)
    {
        const bool readable = reader.update(fake, services, path);
        const bool valid = !whole.empty() && utf8::isValid(whole);
        ASSERT_EQ(readable, valid) << ::testing::PrintToString(whole);
        if (!valid)
            return;
        const auto all = reference->matches(whole);
        const auto found = reader.lastProgress();
        ASSERT_EQ(found.has_value(), !all.empty()) << ::testing::PrintToString(whole);
        if (found) {
            ASSERT_EQ((std::vector<std::string>{found->name, found->number, found->total}), all.back().groups)
                << ::testing::PrintToString(whole);
        }
        if (lastLineToo) {
            ASSERT_EQ(reader.lastNonEmptyLine(), lines::lastNonEmptyLine(whole)) << ::testing::PrintToString(whole);
        }
    }
};

TEST_F(ProgressReaderTest, GrowingCutAndReplacedFilesReadAsAWholeFileWould)
{
    Random random;
    uint64_t inode = 0;
    int withMatch = 0;
    constexpr int texts = 100'000;
    for (int i = 0; i < texts; ++i) {
        auto file = std::make_shared<MemoryFile>(MemoryFile{"", ++inode});
        fake.memoryFiles[path] = file;
        // Tiny reads, so that the buffer's moves and growth happen often.
        ProgressReader reader(4 + random.below(60));
        std::string text = random.text();
        std::size_t shown = 0;
        while (shown < text.size()) {
            shown += 1 + random.below(text.size() - shown);
            file->content = text.substr(0, shown);
            expectSameAsWholeFile(reader, file->content, random.below(4) == 0);
            if (HasFatalFailure())
                return;
            switch (random.below(16)) {
            case 0: // cut short, then written again
                shown = random.below(shown + 1);
                text = text.substr(0, shown) + random.text();
                file->content.resize(shown);
                expectSameAsWholeFile(reader, file->content, false);
                break;
            case 1: // another file in its place
                file = std::make_shared<MemoryFile>(MemoryFile{text.substr(0, shown), ++inode});
                fake.memoryFiles[path] = file;
                break;
            }
        }
        withMatch += reference->matches(text).empty() ? 0 : 1;
    }
    // The texts exercise matching, not only its absence.
    EXPECT_GT(withMatch, texts / 10);
    EXPECT_LT(withMatch, texts * 4 / 5);
}

TEST_F(ProgressReaderTest, EachByteIsReadOnceAndAnUnchangedFileOnlyStatted)
{
    testing::ScratchFolder scratch;
    const auto file = scratch.path() / "progress.out";
    std::ofstream(file, std::ios::binary) << "Collecting a (1/3)\nCollecting b (2";
    ProgressReader reader;
    ASSERT_TRUE(reader.update(fake, services, file));
    EXPECT_EQ(reader.lastProgress()->name, "a");

    std::ofstream(file, std::ios::binary | std::ios::app) << "/3)\nwarning: skipped\n";
    ASSERT_TRUE(reader.update(fake, services, file));
    EXPECT_EQ(reader.lastProgress()->name, "b");
    const uint64_t size = std::filesystem::file_size(file);
    EXPECT_EQ(fake.bytesRead, size);

    fake.statCalls = fake.opens = 0;
    for (int poll = 0; poll < 3; ++poll)
        ASSERT_TRUE(reader.update(fake, services, file));
    EXPECT_EQ(fake.statCalls, 3);
    EXPECT_EQ(fake.opens, 0);
    EXPECT_EQ(fake.bytesRead, size);
    EXPECT_EQ(reader.lastNonEmptyLine(), "warning: skipped");
}

TEST_F(ProgressReaderTest, HoldsTheUnfinishedLineAndOneReadAtMost)
{
    auto file = std::make_shared<MemoryFile>(MemoryFile{"", 1});
    fake.memoryFiles[path] = file;
    constexpr std::size_t chunk = 64 * 1024;
    ProgressReader reader(chunk);
    std::string line;
    for (int i = 0; i < 20'000; ++i)
        line += "Collecting item-" + std::to_string(i) + " (pending) ";
    for (int round = 0; round < 3; ++round) {
        file->content += line;
        ASSERT_TRUE(reader.update(fake, services, path));
        EXPECT_LE(reader.bufferCapacity(), file->content.size() + ProgressReader::slack);
    }
    file->content += " (7/9)\n";
    ASSERT_TRUE(reader.update(fake, services, path));
    EXPECT_EQ(reader.lastProgress()->total, "9");
    for (int i = 0; i < 50'000; ++i)
        file->content += "copied /var/log/system.log " + std::to_string(i) + "\n";
    ASSERT_TRUE(reader.update(fake, services, path));
    EXPECT_LE(reader.bufferCapacity(), 3 * line.size() + 7 + ProgressReader::slack);
    EXPECT_EQ(reader.lastProgress()->number, "7");
}

} // namespace
} // namespace tarnhollow
