// Block-at-a-time byte searches over UTF-8 text: most of the collector's
// output holds nothing a search looks for.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) && !defined(TARNHOLLOW_WORD_SCAN)
#include <emmintrin.h>
#endif

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


// A bit for each byte of a block, bit k for the byte at offset k.
#if defined(__SSE2__) && !defined(TARNHOLLOW_WORD_SCAN)
struct Block {
    static constexpr std::size_t size = 16;
    __m128i v;
    explicit Block(const unsigned char* p) : v(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) {}
    uint32_t equal(unsigned char c) const
    {
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(c)))));
    }
    // Bytes up to `c`, which is below 0x80.
    uint32_t atMost(unsigned char c) const
    {
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(static_cast<char>(c))), v)));
    }
    // Bytes past 0x7F.
    uint32_t high() const { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
};
#else
struct Block {
    static constexpr std::size_t size = 8;
    uint64_t v;
    explicit Block(const unsigned char* p) : v(load(p)) {}
    static uint32_t compact(uint64_t highBits) { return static_cast<uint32_t>(((highBits >> 7) * 0x0102040810204080ULL) >> 56); }
    uint32_t equal(unsigned char c) const { return compact(equalBytes(v, c)); }
    uint32_t atMost(unsigned char c) const { return compact(~(((v & lows) + ones * (0x7F - c)) | v) & ~lows); }
    uint32_t high() const { return compact(v & ~lows); }
};
#endif

inline int highestBit(uint32_t mask) { return 31 - std::countl_zero(mask); }
inline int lowestBit(uint32_t mask) { return std::countr_zero(mask); }

// The last `c` in [from, to), or `none`.
inline std::size_t lastByte(const unsigned char* s, std::size_t from, std::size_t to, unsigned char c)
{
    std::size_t i = to;
    while (i - from >= Block::size) {
        const uint32_t hits = Block(s + i - Block::size).equal(c);
        if (hits)
            return i - Block::size + static_cast<std::size_t>(highestBit(hits));
        i -= Block::size;
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
