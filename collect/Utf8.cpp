#include "collect/Utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarnhollow::utf8 {

namespace {

using SkipAscii = const unsigned char* (*)(const unsigned char* p, const unsigned char* end);

// Past the run of ASCII that starts at `p`, 64 bytes at a time.
const unsigned char* skipAsciiWords(const unsigned char* p, const unsigned char* end)
{
    while (end - p >= 64) {
        uint64_t words[8];
        std::memcpy(words, p, 64);
        const uint64_t any = words[0] | words[1] | words[2] | words[3] | words[4] | words[5] | words[6] | words[7];
        if (any & 0x8080808080808080ULL)
            break;
        p += 64;
    }
    return p;
}

#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx2"))) const unsigned char* skipAsciiWide(const unsigned char* p,
                                                                     const unsigned char* end)
{
    while (end - p >= 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) != 0)
            break;
        p += 64;
    }
    return p;
}

SkipAscii chooseSkipAscii() { return __builtin_cpu_supports("avx2") ? skipAsciiWide : skipAsciiWords; }
#else
SkipAscii chooseSkipAscii() { return skipAsciiWords; }
#endif

} // namespace

bool isValid(std::string_view bytes)
{
    static const SkipAscii skipAscii = chooseSkipAscii();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, 64 and then 16 bytes at a time: most of what the
        // collector writes.
        p = skipAscii(p, end);
        if (end - p >= 16) {
            uint64_t words[2];
            std::memcpy(words, p, 16);
            if (((words[0] | words[1]) & 0x8080808080808080ULL) == 0) {
                p += 16;
                continue;
            }
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int length;
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
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i)
            if ((p[i] & 0xC0) != 0x80)
                return false;
        p += length;
    }
    return true;
}

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
