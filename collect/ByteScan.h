// Word-at-a-time byte searches over UTF-8 text: most of the collector's
// output holds nothing a search looks for, eight bytes at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarnhollow::bytescan {

static_assert(std::endian::native == std::endian::little, "the word scans read bytes little-endian");

inline constexpr std::size_t none = std::string_view::npos;
inline constexpr uint64_t ones = 0x0101010101010101ULL;
inline constexpr uint64_t lows = 0x7F7F7F7F7F7F7F7FULL;

inline uint64_t load(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

// The high bit of every byte that is zero, and of no other.
inline uint64_t zeroBytes(uint64_t v) { return ~(((v & lows) + lows) | v | lows); }
inline uint64_t equalBytes(uint64_t v, unsigned char c) { return zeroBytes(v ^ (ones * c)); }

// Non-zero when some byte is below `bound` (at most 0x80); which bits are
// set is not exact, so it only tells which words to skip.
inline uint64_t someBelow(uint64_t v, unsigned char bound) { return (v - ones * bound) & ~v & ~lows; }

inline int highestByte(uint64_t mask) { return (63 - std::countl_zero(mask)) / 8; }
inline uint64_t withoutByte(uint64_t mask, int k) { return mask & ~(uint64_t{0xFF} << (8 * k)); }

// The last `c` in [from, to), or `none`.
inline std::size_t lastByte(const unsigned char* s, std::size_t from, std::size_t to, unsigned char c)
{
    std::size_t i = to;
    while (i - from >= 8) {
        const uint64_t hits = equalBytes(load(s + i - 8), c);
        if (hits)
            return i - 8 + static_cast<std::size_t>(highestByte(hits));
        i -= 8;
    }
    while (i > from) {
        --i;
        if (s[i] == c)
            return i;
    }
    return none;
}

inline const unsigned char* bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace tarnhollow::bytescan
