// The linear search for the last progress line against the engine's own
// left-to-right search over the whole text.
#include "collect/ProgressLine.h"
#include "platform/icu/IcuTextServices.h"

#include <gtest/gtest.h>

#include <random>

namespace tarnhollow {
namespace {

using Match = RegularExpression::Match;

class ProgressLineTest : public ::testing::Test {
protected:
    IcuTextServices services;
    std::unique_ptr<RegularExpression> reference = services.compile(progress::pattern);

    std::optional<Match> fullSearch(std::string_view text)
    {
        auto all = reference->matches(text);
        if (all.empty())
            return std::nullopt;
        return std::move(all.back());
    }

    // Both agree; returns what they found.
    std::optional<Match> agreed(std::string_view text)
    {
        const auto expected = fullSearch(text);
        const auto actual = progress::lastMatch(text, services);
        const auto located = progress::findLast(text, services);
        EXPECT_EQ(expected.has_value(), actual.has_value()) << ::testing::PrintToString(std::string(text));
        EXPECT_EQ(expected.has_value(), located.has_value()) << ::testing::PrintToString(std::string(text));
        if (expected && actual) {
            EXPECT_EQ(actual->begin, expected->begin) << ::testing::PrintToString(std::string(text));
            EXPECT_EQ(actual->end, expected->end) << ::testing::PrintToString(std::string(text));
            EXPECT_EQ(actual->groups, expected->groups) << ::testing::PrintToString(std::string(text));
        }
        if (expected && located) {
            // The scanner's own spans, without the engine's help.
            EXPECT_EQ(located->whole.begin, expected->begin);
            EXPECT_EQ(located->whole.end, expected->end);
            EXPECT_EQ(std::string(located->name.of(text)), expected->groups[0]);
            EXPECT_EQ(std::string(located->number.of(text)), expected->groups[1]);
            EXPECT_EQ(std::string(located->total.of(text)), expected->groups[2]);
        }
        return actual;
    }

    std::vector<std::string> groups(std::string_view text)
    {
        auto match = agreed(text);
        return match ? match->groups : std::vector<std::string>{};
    }
};

using Groups = std::vector<std::string>;

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

TEST_F(ProgressLineTest, LongLinesAndWordBoundaries)
{
    std::string decoys;
    for (int i = 0; i < 300; ++i)
        decoys += "Collecting item" + std::to_string(i) + " (pending) ";
    EXPECT_EQ(groups(decoys), Groups{});
    EXPECT_EQ(groups(decoys + " (5/6)").at(1), "5");
    EXPECT_EQ(groups("Collecting a (1/2)\n" + decoys).at(0), "a");
    // Every alignment of the marker against the eight-byte words.
    for (std::size_t pad = 0; pad < 20; ++pad) {
        const std::string padding(pad, 'x');
        agreed(padding + "Collecting y (3/4)");
        agreed("Collecting y (3/4)" + padding);
        agreed(padding + "ロ\nCollecting y (3/4)\u2028" + padding);
    }
}

TEST_F(ProgressLineTest, RandomTextsAgreeWithTheFullSearch)
{
    const std::vector<std::string> pieces = {"Collecting ", " (", "(", "1", "0", "/", ")", "\n", "\r\n", "\r",
                                             "\u2028", "\u0085", "\v", "５", "\U00011F50", "x", " ", "ロ",
                                             "collecting "};
    const std::vector<std::string> digits = {"1", "0", "５", "\U00011F50", "x"};
    std::mt19937 random(20261206);
    auto below = [&random](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    // Mostly whole counts, some of them broken, so that matches, near
    // misses and several candidates on one line are all common.
    auto count = [&] {
        std::string parts[5] = {" (", digits[below(digits.size())], "/", digits[below(digits.size())], ")"};
        if (below(3) == 0)
            parts[1] += digits[below(digits.size())];
        std::string tail;
        for (auto& part : parts)
            tail += below(12) == 0 ? pieces[below(pieces.size())] : part;
        return tail;
    };

    constexpr int texts = 100'000;
    int withMatch = 0;
    for (int i = 0; i < texts; ++i) {
        const std::size_t fragments = below(100) == 0 ? 200 : below(14);
        std::string text;
        for (std::size_t k = 0; k < fragments; ++k) {
            switch (below(10)) {
            case 0:
            case 1: text += "Collecting "; break;
            case 2:
            case 3: text += count(); break;
            default: text += pieces[below(pieces.size())]; break;
            }
        }
        withMatch += fullSearch(text) ? 1 : 0;
        agreed(text);
        if (HasFailure())
            break;
    }
    // Make sure the texts exercise matching, not only its absence.
    EXPECT_GT(withMatch, texts / 10);
    EXPECT_LT(withMatch, texts * 4 / 5);
}

TEST_F(ProgressLineTest, ExpressionIsCompiledOnce)
{
    EXPECT_EQ(&progress::collectingExpression(services), &progress::collectingExpression(services));
}

} // namespace
} // namespace tarnhollow
