#include "collect/Utf8.h"

#include <gtest/gtest.h>

namespace tarnhollow {
namespace {

TEST(Utf8Test, AcceptsWellFormedText)
{
    EXPECT_TRUE(utf8::isValid(""));
    EXPECT_TRUE(utf8::isValid("Collecting ログ (1/2)\n"));
    EXPECT_TRUE(utf8::isValid("\xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF \xED\x9F\xBF"));
    EXPECT_EQ(utf8::decodeOrEmpty("(-128)\n"), "(-128)\n");
}

TEST(Utf8Test, RejectsMalformedTextAnywhere)
{
    for (std::string bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF5\x80\x80\x80", "\xFF", "\xE3\x81", "\xF0\x9F\x98", "\xE3\x41\x81"}) {
        EXPECT_FALSE(utf8::isValid(bad)) << ::testing::PrintToString(bad);
        EXPECT_FALSE(utf8::isValid("long ascii prefix of some bytes " + bad + " and more ascii after it"));
        EXPECT_EQ(utf8::decodeOrEmpty("error (-128) " + bad), "");
    }
}

TEST(Utf8Test, CharacterCutAtTheEndWaitsForItsRest)
{
    const std::string ascii(37, 'a');
    const struct {
        std::string bytes;
        std::optional<std::size_t> whole;
    } cases[] = {
        {ascii + "\xE3\x81", ascii.size()},
        {ascii + "\xF0\x9F\x98", ascii.size()},
        {ascii + "\xC2", ascii.size()},
        {ascii + "ロ", ascii.size() + 3},
        // Already wrong, whatever follows.
        {ascii + "\xE0\x9F", std::nullopt},
        {ascii + "\xED\xA0", std::nullopt},
        {ascii + "\xF4\x90", std::nullopt},
        {ascii + "\xE3\x41", std::nullopt},
        {"\xE3\x81" + ascii, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8::wholeCharacters(c.bytes), c.whole) << ::testing::PrintToString(c.bytes);
}

} // namespace
} // namespace tarnhollow
