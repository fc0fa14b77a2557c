#include "text/Utf8.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnhollow::utf8 {

namespace {

constexpr uint64_t highs = 0x8080808080808080ULL;
constexpr uint64_t ones = 0x0101010101010101ULL;

// The eight bytes at `p`, the first one lowest.
uint64_t load(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        uint64_t swapped = 0;
        for (int k = 0; k < 8; ++k)
            swapped |= ((word >> (8 * k)) & 0xFF) << (56 - 8 * k);
        word = swapped;
    }
    return word;
}

// Marks the high bit of each zero byte (and, after one, perhaps of a byte
// above it, which only matters when one is there anyway).
uint64_t zeroBytes(uint64_t v) { return (v - ones) & ~v & highs; }

// The length of the valid character at `p`; 0 when `end` cuts it short
// and its rest may still come; -1 when it is invalid.
std::ptrdiff_t character(const unsigned char* p, const unsigned char* end)
{
    const unsigned char lead = *p;
    if (lead < 0x80)
        return 1;
    std::ptrdiff_t length;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        else if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        else if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return -1;
    }
    const std::ptrdiff_t present = std::min(length, end - p);
    if (present > 1 && (p[1] < low || p[1] > high))
        return -1;
    for (std::ptrdiff_t i = 2; i < present; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return -1;
    return present < length ? 0 : length;
}

} // namespace

std::optional<std::size_t> wholeCharacters(std::string_view bytes)
{
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* end = begin + bytes.size();
    for (;;) {
        // Eight bytes at a time (sixteen while they are ASCII, most of what
        // the collector writes): each byte's top bits say whether it leads
        // a sequence of two or more bytes or continues one, and the
        // continuations must be exactly where the leads want them. Bytes
        // with narrower rules (C0, C1, E0, ED, F0 and above) are left to
        // the character-by-character check below.
        uint64_t carry = 0; // continuations that the last word's leads want in the next word
        while (end - p >= 16) {
            const uint64_t word = load(p);
            if (carry == 0 && ((word | load(p + 8)) & highs) == 0) {
                p += 16;
                continue;
            }
            const uint64_t leads = word & (word << 1) & highs;          // 11xxxxxx
            const uint64_t longLeads = leads & (word << 2);             // 111xxxxx
            const uint64_t continuations = word & ~(word << 1) & highs; // 10xxxxxx
            const uint64_t narrow = (longLeads & (word << 3)) | zeroBytes((word & ~ones) ^ (ones * 0xC0)) |
                                    zeroBytes(word ^ (ones * 0xE0)) | zeroBytes(word ^ (ones * 0xED));
            if (narrow != 0 || ((leads << 8) | (longLeads << 16) | carry) != continuations)
                break;
            carry = (leads >> 56) | (longLeads >> 48);
            p += 8;
        }
        // Character by character past the next eight bytes, from the start
        // of the character that holds `p`.
        const unsigned char* stop = end - p > 8 ? p + 8 : end;
        if (carry != 0) {
            while ((p[-1] & 0xC0) == 0x80)
                --p;
            --p;
        }
        while (p < stop) {
            const std::ptrdiff_t length = character(p, end);
            if (length < 0)
                return std::nullopt;
            if (length == 0)
                return static_cast<std::size_t>(p - begin);
            p += length;
        }
        if (p == end)
            return bytes.size();
    }
}

bool isValid(std::string_view bytes) { return wholeCharacters(bytes) == bytes.size(); }

Decoded decodeAt(std::string_view text, std::size_t i)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
    const std::ptrdiff_t length = character(p, p + (text.size() - i));
    if (length <= 0)
        return {};
    char32_t code = length == 1 ? p[0] : p[0] & (0x7F >> length);
    for (std::ptrdiff_t k = 1; k < length; ++k)
        code = (code << 6) | (p[k] & 0x3F);
    return {code, static_cast<std::size_t>(length)};
}

std::size_t startBefore(std::string_view text, std::size_t i)
{
    std::size_t start = i - 1;
    while (start > 0 && i - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    return start;
}

std::string decodeOrEmpty(std::string bytes)
{
    if (!isValid(bytes))
        return {};
    return bytes;
}

} // namespace tarnhollow::utf8
