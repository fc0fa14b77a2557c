#include "platform/appkit/Utf16Offsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tarnhollow::appkit {
namespace {

TEST(Utf16OffsetsTest, MapsEveryCharacterBoundaryInAnyOrderAndClampsTheRest)
{
    // One character of each UTF-8 length, with its width in UTF-16 code units.
    const std::pair<std::string, std::size_t> characters[] = {
        {"C", 1}, {"\xC3\xA9", 1}, {"\xE5\x8F\x8E", 1}, {"\xF0\x9F\x93\x81", 2}, {"\n", 1}};
    std::mt19937 random(7);
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> boundaries{{0, 0}}; // unit, byte
    for (int i = 0; i < 400; ++i) {
        const auto& [utf8, units] = characters[random() % std::size(characters)];
        text += utf8;
        boundaries.emplace_back(boundaries.back().first + units, text.size());
    }
    for (bool shuffled : {false, true}) {
        if (shuffled)
            std::shuffle(boundaries.begin(), boundaries.end(), random);
        Utf16Offsets offsets(text);
        for (const auto& [unit, byte] : boundaries)
            EXPECT_EQ(offsets.byteOffset(unit), byte) << "unit " << unit;
    }

    Utf16Offsets offsets("a\xF0\x9F\x93\x81z");
    EXPECT_EQ(offsets.byteOffset(2), 1u) << "inside a surrogate pair: the character's start";
    EXPECT_EQ(offsets.byteOffset(3), 5u);
    EXPECT_EQ(offsets.byteOffset(99), 6u);
    EXPECT_EQ(offsets.byteOffset(0), 0u);
    EXPECT_EQ(Utf16Offsets("").byteOffset(1), 0u);
}

} // namespace
} // namespace tarnhollow::appkit
