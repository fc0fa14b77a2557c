#include "collector-tool/Text.h"
#include "collector-tool/OutputDirectory.h"

#include <gtest/gtest.h>

#include <regex>

namespace tarnhollow::tool {
namespace {

TEST(EscapeName, KeepsValidUtf8AndEscapesWhatStrictDecodersReject)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/home/太郎/.bash_history", "/home/太郎/.bash_history"},
        {"\xF0\x9F\x98\x80\xC2\xA0\xE0\xA0\x80", "\xF0\x9F\x98\x80\xC2\xA0\xE0\xA0\x80"},
        {"a\nb\tc\rd\x7f", "a%0Ab%09c%0Dd%7F"},
        {"50%", "50%25"},
        {std::string("a\0b", 3), "a%00b"},
        {"\x80x\xC3y\xE3", "%80x%C3y%E3"},    // stray continuation, lone lead, lead at the end
        {"\xC0\xAF", "%C0%AF"},               // overlong '/'
        {"\xE0\x80\xAF", "%E0%80%AF"},        // overlong, three bytes
        {"\xED\xA0\x80", "%ED%A0%80"},        // surrogate
        {"\xF4\x90\x80\x80", "%F4%90%80%80"}, // above U+10FFFF
        {"\xC2\x85\xC2\x9F", "%C2%85%C2%9F"}, // C1 controls
    };
    for (const auto& [raw, escaped] : cases)
        EXPECT_EQ(escapeName(raw), escaped);
}

TEST(FileNameSafe, LeavesOnlyPlainCharacters)
{
    EXPECT_EQ(fileNameSafe("AZaz09-_.local"), "AZaz09-_.local");
    EXPECT_EQ(fileNameSafe("a/b c:d@[`{"), "a_b_c_d____");
    EXPECT_EQ(fileNameSafe("..hidden") + fileNameSafe(""), "hiddenhost");
}

TEST(CandidateName, TwentyGuessableNamesThenARandomOne)
{
    EXPECT_EQ(candidateName("host-20261206T093015Z", 1), "host-20261206T093015Z");
    EXPECT_EQ(candidateName("h", 2) + candidateName("h", 20), "h-2h-20");
    EXPECT_TRUE(std::regex_match(candidateName("h", 21), std::regex("h-[0-9a-f]{12}")));
}

} // namespace
} // namespace tarnhollow::tool
