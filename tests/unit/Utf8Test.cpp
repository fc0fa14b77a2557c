#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <unicode/utf8.h>

#include <random>

namespace tarnhollow {
namespace {

// ICU's own decoder as the reference: where it stops, and whether more
// bytes could have made a character there.
std::optional<std::size_t> icuWholeCharacters(const std::string& bytes)
{
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const int32_t n = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, n, c);
        if (c >= 0)
            continue;
        for (const char* rest : {"\x80\x80\x80", "\xBF\xBF\xBF"}) {
            const std::string longer = bytes.substr(static_cast<std::size_t>(start)) + rest;
            int32_t j = 0;
            U8_NEXT(reinterpret_cast<const uint8_t*>(longer.data()), j, static_cast<int32_t>(longer.size()), c);
            if (c >= 0 && j > n - start)
                return static_cast<std::size_t>(start);
        }
        return std::nullopt;
    }
    return bytes.size();
}

TEST(Utf8Test, RandomBytesAgreeWithIcu)
{
    // Mostly ASCII, so that long runs meet the bytes with special rules at
    // every offset, and whole sequences only just right or only just wrong.
    const unsigned char others[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0,
                                    0xE3, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF};
    const char* sequences[] = {"\xED\x9F\xBF",     "\xED\xA0\x80",     "\xE0\xA0\x80",     "\xE0\x9F\xBF",
                               "\xF0\x90\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xF4\x90\x80\x80",
                               "\xC2\x80",         "\xC1\xBF",         "\xEF\xBF\xBF",     "\xF0\x9F\x98\x80"};
    std::mt19937 random(12);
    for (int i = 0; i < 300'000; ++i) {
        std::string bytes;
        for (std::size_t k = 0, size = random() % 48; k < size; ++k) {
            if (const unsigned pick = random() % 8; pick < 3)
                bytes += static_cast<char>('a' + pick);
            else if (pick < 5)
                bytes += "ロ"; // a whole character keeps later bytes worth checking
            else if (pick < 6)
                bytes += sequences[random() % std::size(sequences)];
            else
                bytes += static_cast<char>(others[random() % std::size(others)]);
        }
        ASSERT_EQ(utf8::wholeCharacters(bytes), icuWholeCharacters(bytes)) << ::testing::PrintToString(bytes);
        ASSERT_EQ(utf8::isValid(bytes), icuWholeCharacters(bytes) == bytes.size());
    }
    EXPECT_EQ(utf8::wholeCharacters("abc\xE3\x81"), 3u); // waits for the rest
    EXPECT_EQ(utf8::decodeOrEmpty("(-128) \xFF"), "");
}

} // namespace
} // namespace tarnhollow
