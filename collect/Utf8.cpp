#include "collect/Utf8.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnhollow::utf8 {

namespace {

// The high bits of the eight bytes at `p`.
uint64_t highBits(const unsigned char* p)
{
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word & 0x8080808080808080ULL;
}

// How many of the bytes whose high bits these are come before the first
// non-ASCII one.
std::size_t asciiBytes(uint64_t high)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::size_t>(std::countr_zero(high) / 8);
    else
        return static_cast<std::size_t>(std::countl_zero(high) / 8);
}

} // namespace

std::optional<std::size_t> wholeCharacters(std::string_view bytes)
{
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* end = begin + bytes.size();
    for (;;) {
        // Most of the collector's output is ASCII: 16 bytes at a time.
        while (end - p >= 16) {
            const uint64_t first = highBits(p), second = highBits(p + 8);
            if ((first | second) != 0) {
                p += first ? asciiBytes(first) : 8 + asciiBytes(second);
                break;
            }
            p += 16;
        }
        while (p < end && *p < 0x80)
            ++p;
        if (p == end)
            return bytes.size();
        // A run of other characters.
        do {
            const unsigned char lead = *p;
            // Kana and kanji: three bytes whose second byte has no narrower
            // range to check.
            if (lead >= 0xE1 && lead <= 0xEC && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
                p += 3;
                continue;
            }
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
                return std::nullopt;
            }
            const std::ptrdiff_t present = std::min(length, end - p);
            if (present > 1 && (p[1] < low || p[1] > high))
                return std::nullopt;
            for (std::ptrdiff_t i = 2; i < present; ++i)
                if ((p[i] & 0xC0) != 0x80)
                    return std::nullopt;
            if (present < length)
                return static_cast<std::size_t>(p - begin);
            p += length;
        } while (p < end && *p >= 0x80);
    }
}

bool isValid(std::string_view bytes) { return wholeCharacters(bytes) == bytes.size(); }

Decoded decodeAt(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80)
        return {lead, 1};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || text.size() - i < length)
        return {};
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return {};
        code = (code << 6) | (next & 0x3F);
    }
    return {code, length};
}

std::string decodeOrEmpty(std::string bytes)
{
    if (!isValid(bytes))
        return {};
    return bytes;
}

} // namespace tarnhollow::utf8
