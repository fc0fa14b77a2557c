// The search for the last progress line against the engine's own
// left-to-right search over the whole text.
#include "collect/ProgressLine.h"
#include "platform/icu/IcuTextServices.h"

#include <gtest/gtest.h>

namespace tarnhollow {
namespace {

using Groups = std::vector<std::string>;

class ProgressLineTest : public ::testing::Test {
protected:
    IcuTextServices services;
    std::unique_ptr<RegularExpression> reference = services.compile(progress::pattern);

    // The groups of the last match; both searches agree on them and on
    // where the match lies.
    Groups groups(std::string_view text)
    {
        const auto all = reference->matches(text);
        const auto located = progress::findLast(text, services);
        EXPECT_EQ(!all.empty(), located.has_value()) << ::testing::PrintToString(std::string(text));
        if (all.empty() || !located)
            return {};
        EXPECT_EQ(located->whole.begin, all.back().begin);
        EXPECT_EQ(located->whole.end, all.back().end);
        const Groups found{std::string(located->name.of(text)), std::string(located->number.of(text)),
                           std::string(located->total.of(text))};
        EXPECT_EQ(found, all.back().groups) << ::testing::PrintToString(std::string(text));
        return found;
    }
};

TEST_F(ProgressLineTest, NameRunsToTheLastCountOfTheFirstCollectingOnTheLine)
{
    EXPECT_EQ(groups("Collecting a (1/2) b (3/4)"), (Groups{"a (1/2) b", "3", "4"}));
    EXPECT_EQ(groups("Collecting Collecting x (1/2)"), (Groups{"Collecting x", "1", "2"}));
    EXPECT_EQ(groups("Collecting x (1/2)Collecting y (3/4) trailing"), (Groups{"x (1/2)Collecting y", "3", "4"}));
    EXPECT_EQ(groups("[12:00] Collecting ( (1/2)"), (Groups{"(", "1", "2"}));
    EXPECT_EQ(groups("Collecting x (1/2) (3/"), (Groups{"x", "1", "2"}));
    EXPECT_EQ(groups("Collecting  (1/2) (3/4)"), (Groups{" (1/2)", "3", "4"}));
    // A later "Collecting " with no count of its own is inside the first name.
    EXPECT_EQ(groups("Collecting a (1/2) Collecting b (pending)"), (Groups{"a", "1", "2"}));
}

TEST_F(ProgressLineTest, LaterLinesWinAndLinesEndAtEveryTerminator)
{
    EXPECT_EQ(groups("Collecting a (1/3)\nCollecting b (2/3)\nother output\n"), (Groups{"b", "2", "3"}));
    EXPECT_EQ(groups("Collecting a (1/3)\r\n"), (Groups{"a", "1", "3"}));
    for (std::string end : {"\n", "\v", "\f", "\r", "\u0085", "\u2028", "\u2029"}) {
        EXPECT_EQ(groups("Collecting a (1/3)" + end + "Collecting b (2/3)"), (Groups{"b", "2", "3"}));
        EXPECT_EQ(groups("Collecting a" + end + " (1/3)"), Groups{});
        EXPECT_EQ(groups("Collecting a (1/3)" + end + "Collecting b (2/"), (Groups{"a", "1", "3"}));
    }
}

TEST_F(ProgressLineTest, NoMatchWithoutNameCountOrCapitalC)
{
    for (std::string text : {"", "Collecting", "Collecting  (1/2)", "collecting x (1/2)", "Collecting x (1/2",
                             "Collecting x (/2)", "Collecting x (1/)", "Collecting x (1 / 2)", "Collecting x(1/2)",
                             "Collecting artifacts (pending)", "Collectingx (1/2)"})
        EXPECT_EQ(groups(text), Groups{}) << text;
}

TEST_F(ProgressLineTest, DigitsOfEveryScriptMatch)
{
    EXPECT_EQ(groups("Collecting x (１２/３)"), (Groups{"x", "１２", "３"}));
    EXPECT_EQ(groups("Collecting x (\U00011F51/٣)"), (Groups{"x", "\U00011F51", "٣"}));
    EXPECT_EQ(groups("Collecting ログ (007/010)"), (Groups{"ログ", "007", "010"}));
    // Not digits: numerals of other kinds.
    EXPECT_EQ(groups("Collecting x (Ⅻ/½)"), Groups{});
}

TEST_F(ProgressLineTest, LongLinesAndBlockEdges)
{
    std::string decoys;
    for (int i = 0; i < 300; ++i)
        decoys += "Collecting item" + std::to_string(i) + " (pending) ";
    EXPECT_EQ(groups(decoys), Groups{});
    EXPECT_EQ(groups(decoys + " (5/6)").at(1), "5");
    EXPECT_EQ(groups("Collecting a (1/2)\n" + decoys).at(0), "a");
    // The searches step over blocks of bytes: every alignment of the marker
    // and of the line ends against them.
    for (std::size_t pad = 0; pad < 40; ++pad) {
        const std::string padding(pad, 'x');
        EXPECT_EQ(groups(padding + "Collecting y (3/4)").at(0), "y");
        EXPECT_EQ(groups("Collecting y (3/4)" + padding).at(0), "y");
        EXPECT_EQ(groups(padding + "ロ\nCollecting y (3/4)\u2028" + padding + "Collecting z (5/").at(0), "y");
    }
}

TEST_F(ProgressLineTest, LineEnds)
{
    EXPECT_EQ(progress::nextLineEnd("abc", 0), std::string_view::npos);
    EXPECT_EQ(progress::nextLineEnd(std::string(40, 'x') + "\u2029", 3), 40u);
    EXPECT_EQ(progress::nextLineEnd("a\xE2\x80\xA6\xC2\xA0\xC2\x85", 0), 6u); // …, no-break space, U+0085
    EXPECT_EQ(progress::pastLastLineEnd("a\nb\rc"), 4u);
    EXPECT_EQ(progress::pastLastLineEnd("a\u2028" + std::string(40, 'x')), 4u);
    EXPECT_EQ(progress::pastLastLineEnd(std::string(40, 'x') + "\xE2\x80\xA6"), 0u);
}

} // namespace
} // namespace tarnhollow
