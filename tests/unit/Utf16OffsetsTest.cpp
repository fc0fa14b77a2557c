#include "platform/appkit/Utf16Offsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace tarnhollow::appkit {
namespace {

// One character of each UTF-8 length, with its width in UTF-16 code units.
struct Character {
    std::string utf8;
    std::size_t units;
};
const std::vector<Character> characters = {
    {"C", 1}, {"\xC3\xA9", 1}, {"\xE5\x8F\x8E", 1}, {"\xF0\x9F\x93\x81", 2}, {"\n", 1},
};

TEST(Utf16OffsetsTest, MapsEveryCharacterBoundaryInAnyOrder)
{
    std::mt19937 random(7);
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> boundaries{{0, 0}}; // unit, byte
    std::size_t units = 0;
    for (int i = 0; i < 400; ++i) {
        const Character& c = characters[random() % characters.size()];
        text += c.utf8;
        units += c.units;
        boundaries.emplace_back(units, text.size());
    }

    Utf16Offsets inOrder(text);
    for (const auto& [unit, byte] : boundaries)
        EXPECT_EQ(inOrder.byteOffset(unit), byte) << "unit " << unit;

    std::shuffle(boundaries.begin(), boundaries.end(), random);
    Utf16Offsets anyOrder(text);
    for (const auto& [unit, byte] : boundaries)
        EXPECT_EQ(anyOrder.byteOffset(unit), byte) << "unit " << unit;
}

TEST(Utf16OffsetsTest, ReadsAMatchAsTheRegularExpressionReportsIt)
{
    // "Collecting 📁 ログ (3/12)" after a line of other text: match start,
    // its groups, then its end, as the text services look them up.
    const std::string text = "\xE6\xBA\x96\xE5\x82\x99\n"
                             "Collecting \xF0\x9F\x93\x81 \xE3\x83\xAD\xE3\x82\xB0 (3/12)";
    Utf16Offsets offsets(text);
    EXPECT_EQ(offsets.byteOffset(3), 7u);                               // "Collecting"
    EXPECT_EQ(text.substr(offsets.byteOffset(14), offsets.byteOffset(19) - 18), // group 1
              "\xF0\x9F\x93\x81 \xE3\x83\xAD\xE3\x82\xB0");
    EXPECT_EQ(offsets.byteOffset(21), text.size() - 5);                 // "3"
    EXPECT_EQ(offsets.byteOffset(26), text.size());                     // the end
}

TEST(Utf16OffsetsTest, ClampsPositionsThatAreNotBoundaries)
{
    const std::string text = "a\xF0\x9F\x93\x81z";
    Utf16Offsets offsets(text);
    EXPECT_EQ(offsets.byteOffset(2), 1u) << "inside a surrogate pair: the character's start";
    EXPECT_EQ(offsets.byteOffset(3), 5u);
    EXPECT_EQ(offsets.byteOffset(99), text.size());
    EXPECT_EQ(offsets.byteOffset(0), 0u);
    EXPECT_EQ(Utf16Offsets("").byteOffset(1), 0u);
}

} // namespace
} // namespace tarnhollow::appkit
