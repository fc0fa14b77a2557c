#include "collector-tool/Text.h"

#include <gtest/gtest.h>

#include <limits>

namespace tarnhollow::tool {
namespace {

    TEST(EscapeName, KeepsValidUtf8AndEscapesEverythingElse)
    {
        EXPECT_EQ(escapeName("/home/太郎/.bash_history"), "/home/太郎/.bash_history");
        EXPECT_EQ(escapeName("a\nb\tc\rd\x7f"), "a%0Ab%09c%0Dd%7F");
        EXPECT_EQ(escapeName("50%"), "50%25");
        EXPECT_EQ(escapeName(std::string("a\0b", 3)), "a%00b");
        // Stray continuation byte, lone lead byte, lead byte at the very end.
        EXPECT_EQ(escapeName("\x80x\xC3y\xE3"), "%80x%C3y%E3");
    }

    TEST(EscapeName, RejectsWhatStrictDecodersReject)
    {
        EXPECT_EQ(escapeName("\xC0\xAF"), "%C0%AF"); // overlong '/'
        EXPECT_EQ(escapeName("\xE0\x80\xAF"), "%E0%80%AF"); // overlong, three bytes
        EXPECT_EQ(escapeName("\xED\xA0\x80"), "%ED%A0%80"); // surrogate
        EXPECT_EQ(escapeName("\xF4\x90\x80\x80"), "%F4%90%80%80"); // above U+10FFFF
        EXPECT_EQ(escapeName("\xC2\x85"), "%C2%85"); // C1 next line
        EXPECT_EQ(escapeName("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    }

    TEST(ParseDecimal, AcceptsOnlyPlainNumbersInRange)
    {
        std::uint64_t v = 7;
        EXPECT_TRUE(parseDecimal("0", 10, v));
        EXPECT_EQ(v, 0u);
        EXPECT_TRUE(parseDecimal("501", 1000, v));
        EXPECT_EQ(v, 501u);
        for (const char* bad : { "", "-1", "+1", " 1", "1 ", "1a", "0x10", "1001" })
            EXPECT_FALSE(parseDecimal(bad, 1000, v)) << bad;
        const auto max = std::numeric_limits<std::uint64_t>::max();
        EXPECT_TRUE(parseDecimal("18446744073709551615", max, v));
        EXPECT_FALSE(parseDecimal("18446744073709551616", max, v));
    }

    TEST(FileNameSafe, LeavesOnlyPlainCharacters)
    {
        EXPECT_EQ(fileNameSafe("mac-mini.local"), "mac-mini.local");
        EXPECT_EQ(fileNameSafe("a/b c:d"), "a_b_c_d");
        EXPECT_EQ(fileNameSafe("..hidden"), "hidden");
        EXPECT_EQ(fileNameSafe(""), "host");
    }

} // namespace
} // namespace tarnhollow::tool
