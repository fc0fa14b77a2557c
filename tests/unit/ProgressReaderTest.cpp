// The reader that follows the growing progress file, against the engine's
// full search and a whole-file UTF-8 check of the file as it stands.
#include "collect/ProgressReader.h"
#include "collect/LastLine.h"
#include "tests/support/RecordingPlatform.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnhollow {
namespace {

// One file kept in memory, counting what reading it costs. A replaced file
// gets a new inode; what was opened before keeps the old one.
struct MemoryFile {
    std::string content;
    uint64_t inode;
    int changed = 0; // seconds since the epoch of its last change
    FileStatus status() const { return {0, inode, content.size(), Date(std::chrono::seconds(changed))}; }
};
struct MemoryFiles final : testing::RecordingPlatform {
    struct Opened final : ReadableFile {
        Opened(std::shared_ptr<MemoryFile> file, uint64_t& read)
            : file(std::move(file)),
              read(read)
        {
        }
        std::optional<FileStatus> status() override { return file->status(); }
        std::optional<std::size_t> readAt(uint64_t offset, char* into, std::size_t count) override
        {
            const std::size_t got = offset < file->content.size() ? file->content.copy(into, count, offset) : 0;
            read += got;
            return got;
        }
        std::shared_ptr<MemoryFile> file;
        uint64_t& read;
    };
    std::optional<FileStatus> regularFileStatus(const Path&) override
    {
        ++stats;
        return file->status();
    }
    std::unique_ptr<ReadableFile> openRegularFile(const Path&) override
    {
        ++opens;
        return gone ? nullptr : std::make_unique<Opened>(file, read);
    }
    void replace(std::string content) { file = std::make_shared<MemoryFile>(MemoryFile{content, file->inode + 1}); }
    std::shared_ptr<MemoryFile> file = std::make_shared<MemoryFile>();
    int stats = 0, opens = 0;
    bool gone = false; // replaced, then gone between looking and opening
    uint64_t read = 0;
};

class ProgressReaderTest : public ::testing::Test {
protected:
    MemoryFiles files;
    std::unique_ptr<RegularExpression> reference = files.text().compile(progress::pattern);
    std::mt19937 engine{20261206};
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine); }
    bool update(ProgressReader& reader) { return reader.update(files, files.text(), "progress.out"); }

    // Collector-like output: matches, near misses and several candidates on
    // one line are all common; now and then a byte that is not UTF-8.
    std::string randomText()
    {
        static const std::vector<std::string> pieces = {
            "Collecting ", " (",     "(",  "1",  "/", ")", "\n", "\r\n", "\r",     "\f",         "\u2028",
            "\u2029",      "\u0085", "\v", "５", "x", " ", "ロ", "…",    "\u00A0", "collecting "};
        static const std::vector<std::string> digits = {"1", "0", "５", "\U00011F50", "٣", "x"};
        std::string text;
        for (std::size_t k = 0, fragments = below(100) == 0 ? 200 : below(14); k < fragments; ++k) {
            if (const std::size_t kind = below(10); kind < 2) {
                text += "Collecting ";
            } else if (kind >= 4) {
                text += pieces[below(pieces.size())];
            } else { // a count, now and then with a piece out of place
                const std::string number =
                    digits[below(digits.size())] + (below(3) ? "" : digits[below(digits.size())]);
                for (const auto& part :
                     {std::string(" ("), number, std::string("/"), digits[below(digits.size())], std::string(")")})
                    text += below(12) == 0 ? pieces[below(pieces.size())] : part;
            }
        }
        if (below(60) == 0)
            text.insert(below(text.size() + 1), 1, "\xFF\x80\xC0"[below(3)]);
        return text;
    }

    // One poll, and what a whole-file read and full search would give.
    void expectSameAsWholeFile(ProgressReader& reader, bool lastLineToo = true)
    {
        const std::string& whole = files.file->content;
        const bool valid = !whole.empty() && utf8::isValid(whole);
        ASSERT_EQ(update(reader), valid) << ::testing::PrintToString(whole);
        using Groups = std::vector<std::string>;
        const auto all = valid ? reference->matches(whole) : std::vector<RegularExpression::Match>{};
        const auto found = reader.lastProgress();
        const Groups got = found && valid ? Groups{found->name, found->number, found->total} : Groups{};
        ASSERT_EQ(got, all.empty() ? Groups{} : all.back().groups) << ::testing::PrintToString(whole);
        // The whole-text search also finds where the match lies.
        using Place = std::pair<std::size_t, std::size_t>;
        const auto located = valid ? progress::findLast(whole, files.text()) : std::nullopt;
        const Place place = located ? Place{located->whole.begin, located->whole.end} : Place{};
        ASSERT_EQ(place, (all.empty() ? Place{} : Place{all.back().begin, all.back().end}))
            << ::testing::PrintToString(whole);
        // The end of a run reads the whole file once more, in steps of any size.
        if (lastLineToo) {
            ASSERT_EQ(lines::lastNonEmptyLineOf(*files.openRegularFile("progress.out"), 1 + below(8)),
                      utf8::isValid(whole) ? lines::lastNonEmptyLine(whole) : "")
                << ::testing::PrintToString(whole);
        }
    }
};

TEST_F(ProgressReaderTest, GrowingCutAndReplacedFilesReadAsAWholeFileWould)
{
    std::vector<std::string> texts;
    std::string decoys;
    for (int i = 0; i < 300; ++i)
        decoys += "Collecting item" + std::to_string(i) + " (pending) ";
    texts.insert(texts.end(), {decoys, decoys + " (5/6)", "Collecting a (1/2)\n" + decoys});
    // The searches step over blocks of bytes: every alignment of the marker
    // and of the line ends against them.
    for (std::size_t pad = 0; pad < 40; ++pad) {
        const std::string x(pad, 'x');
        texts.insert(texts.end(), {x + "Collecting y (3/4)", "Collecting y (3/4)" + x,
                                   x + "ロ\nCollecting y (3/4)\u2028" + x + "Collecting z (5/"});
    }
    int withMatch = 0;
    constexpr int randomTexts = 100'000;
    for (std::size_t i = 0; i < texts.size() + randomTexts; ++i) {
        files.replace("");
        ProgressReader reader(4 + below(60)); // tiny reads: the buffer moves and grows often
        std::string text = i < texts.size() ? texts[i] : randomText();
        for (std::size_t shown = 0; shown < text.size();) {
            shown += 1 + below(text.size() - shown);
            files.file->content = text.substr(0, shown);
            expectSameAsWholeFile(reader, below(4) == 0);
            if (HasFatalFailure())
                return;
            if (const auto change = below(16); change == 0) { // cut short, then written again
                shown = below(shown + 1);
                text = text.substr(0, shown) + randomText();
                files.file->content.resize(shown);
                expectSameAsWholeFile(reader, false);
            } else if (change == 1) {
                files.replace(text.substr(0, shown));
            }
        }
        withMatch += reference->matches(text).empty() ? 0 : 1;
    }
    // The texts exercise matching, not only its absence.
    EXPECT_GT(withMatch, randomTexts / 10);
    EXPECT_LT(withMatch, randomTexts * 4 / 5);
}

TEST_F(ProgressReaderTest, ReadsEachByteOnceAndHoldsOnlyTheUnfinishedLine)
{
    ProgressReader reader(64 * 1024);
    std::string line;
    for (int i = 0; i < 20'000; ++i)
        line += "Collecting item-" + std::to_string(i) + " (pending) ";
    for (int round = 0; round < 3; ++round) {
        files.file->content += line;
        ASSERT_TRUE(update(reader));
        EXPECT_LE(reader.bufferCapacity(), files.file->content.size() + ProgressReader::slack);
    }
    files.file->content += " (7/9)\n";
    for (int i = 0; i < 50'000; ++i)
        files.file->content += "copied /var/log/system.log " + std::to_string(i) + "\n";
    ASSERT_TRUE(update(reader));
    EXPECT_LE(reader.bufferCapacity(), 3 * line.size() + 7 + ProgressReader::slack);
    EXPECT_EQ(reader.lastProgress()->number, "7");
    // An unchanged file is only looked at.
    files.stats = files.opens = 0;
    for (int poll = 0; poll < 3; ++poll)
        ASSERT_TRUE(update(reader));
    EXPECT_EQ(files.stats, 3);
    EXPECT_EQ(files.opens, 0);
    // Beyond its bytes only the small checks for a rewrite, at each change.
    EXPECT_LE(files.read, files.file->content.size() + 4 * 2 * 64);
    EXPECT_EQ(lines::lastNonEmptyLineOf(*files.openRegularFile("progress.out")), "copied /var/log/system.log 49999");
    files.replace("Collecting x (1/2)\n");
    files.gone = true;
    EXPECT_FALSE(update(reader));
}

TEST_F(ProgressReaderTest, ReadsARewrittenFileAgainFromItsStart)
{
    ProgressReader reader;
    const std::string dots(200, '.');
    files.file->content = "Collecting a (1/3)\n" + dots + "\n";
    ASSERT_TRUE(update(reader));
    // Written anew in the same file, and longer by the next poll.
    files.file->content = "Collecting b (2/3)\n" + dots + dots + "\n";
    files.file->changed = 1;
    ASSERT_TRUE(update(reader));
    EXPECT_EQ(reader.lastProgress()->name, "b");
    // Only its end changed, at a later time: the size tells nothing.
    files.file->content.replace(files.file->content.size() - 19, 19, "Collecting c (3/3)\n");
    files.file->changed = 2;
    ASSERT_TRUE(update(reader));
    EXPECT_EQ(reader.lastProgress()->name, "c");
}

} // namespace
} // namespace tarnhollow
