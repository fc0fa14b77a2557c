// The failure reason: the last non-empty line, and trimming the runner's words.
#include "collect/LastLine.h"

#include <gtest/gtest.h>

namespace tarnhollow::lines {
namespace {

TEST(LastLineTest, OnlyLoneLineFeedsSeparateAndEmptyPiecesAreSkipped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"\n\n\n", ""},
        {"a\nb\n\n", "b"},
        {"a\n   \n", "   "},
        {"only", "only"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\nb\r\nc\r\n\n\n", "b\r\nc\r\n"},
        {"a\n\rb", "\rb"},
        {"a\nb\u2028c\rd", "b\u2028c\rd"},
        {std::string(5000, 'x') + "\nエラー: 容量不足\n" + std::string(40, '\n'), "エラー: 容量不足"}};
    for (const auto& [text, last] : cases)
        EXPECT_EQ(lastNonEmptyLine(text), last) << text;
}

TEST(LastLineTest, TrimsUnicodeWhiteSpaceAndLineEndsAtBothEnds)
{
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n\v\f\u0085\u00A0\u2028\u2029\u3000\u2009\u202F\u205F\u1680"
                                        "execution error (1) \u3000\u2000\u200A\n"),
              "execution error (1)");
    EXPECT_EQ(trimWhitespaceAndNewlines("a \n b"), "a \n b");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \n\u3000 "), "");
    // Not white space: zero width space, word joiner, the old Mongolian vowel separator.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200Bx\u2060\u180E"), "\u200Bx\u2060\u180E");
}

} // namespace
} // namespace tarnhollow::lines
