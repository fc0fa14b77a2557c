#include "collect/ProgressLine.h"

#include "collect/ByteScan.h"
#include "collect/Utf8.h"

namespace tarnhollow::progress {

namespace {

using namespace bytescan;

constexpr std::string_view marker = "Collecting ";

// "." stops at LF, VT, FF, CR, U+0085, U+2028 and U+2029.
bool terminatorEndsAt(const unsigned char* s, std::size_t i)
{
    if (i == 0)
        return false;
    const unsigned char last = s[i - 1];
    if (last >= 0x0A && last <= 0x0D)
        return true;
    if (last == 0x85)
        return i >= 2 && s[i - 2] == 0xC2;
    if (last == 0xA8 || last == 0xA9)
        return i >= 3 && s[i - 2] == 0x80 && s[i - 3] == 0xE2;
    return false;
}

bool terminatorStartsAt(const unsigned char* s, std::size_t n, std::size_t i)
{
    const unsigned char first = s[i];
    if (first >= 0x0A && first <= 0x0D)
        return true;
    if (first == 0xC2)
        return i + 1 < n && s[i + 1] == 0x85;
    if (first == 0xE2)
        return i + 2 < n && s[i + 1] == 0x80 && (s[i + 2] == 0xA8 || s[i + 2] == 0xA9);
    return false;
}

// Where the line that holds position `i` ends (its terminator, or the end).
std::size_t lineEnd(const unsigned char* s, std::size_t n, std::size_t i)
{
    while (n - i >= Block::size) {
        const Block block(s + i);
        uint32_t candidates = block.atMost(0x0D) | block.equal(0xC2) | block.equal(0xE2);
        while (candidates) {
            const std::size_t at = i + static_cast<std::size_t>(lowestBit(candidates));
            if (terminatorStartsAt(s, n, at))
                return at;
            candidates &= candidates - 1;
        }
        i += Block::size;
    }
    while (i < n && !terminatorStartsAt(s, n, i))
        ++i;
    return i;
}

// The last "Collecting " that lies wholly in [0, limit).
std::size_t lastMarker(const unsigned char* s, std::size_t limit)
{
    if (limit < marker.size())
        return none;
    // Candidates are the positions below `i`, tested a block at a time on
    // their 'C' and on their 'g'.
    std::size_t i = limit - marker.size() + 1;
    while (i >= Block::size) {
        const std::size_t base = i - Block::size;
        uint32_t hits = Block(s + base).equal('C') & Block(s + base + 9).equal('g');
        while (hits) {
            const int k = highestBit(hits);
            if (std::memcmp(s + base + k, marker.data(), marker.size()) == 0)
                return base + k;
            hits &= ~(uint32_t{1} << k);
        }
        i = base;
    }
    while (i > 0) {
        --i;
        if (std::memcmp(s + i, marker.data(), marker.size()) == 0)
            return i;
    }
    return none;
}

#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define TARNHOLLOW_WIDE_SKIP 1
#include <immintrin.h>

// Moves `i` down over 32-byte blocks in which nothing can end a line or, when
// `wantOpens`, start a count: a byte up to 0x0D, a last byte of U+0085,
// U+2028 or U+2029, or a "(" before a digit or a non-ASCII byte. The block
// scan below then looks closely at what is left. Needs the byte at `i`, so
// `i` < `n`.
__attribute__((target("avx2"))) std::size_t skipQuietBlocks(const unsigned char* s, std::size_t i,
                                                              bool wantOpens)
{
    const __m256i lineEnds = _mm256_set1_epi8(0x0D);
    const __m256i nel = _mm256_set1_epi8(static_cast<char>(0x85));
    const __m256i ls = _mm256_set1_epi8(static_cast<char>(0xA8));
    const __m256i ps = _mm256_set1_epi8(static_cast<char>(0xA9));
    const __m256i open = _mm256_set1_epi8('(');
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i nine = _mm256_set1_epi8('9' - '0');
    while (i >= 32) {
        const auto* at = reinterpret_cast<const __m256i*>(s + i - 32);
        const __m256i v = _mm256_loadu_si256(at);
        __m256i hits = _mm256_cmpeq_epi8(_mm256_min_epu8(v, lineEnds), v);
        hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(v, nel));
        hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(v, ls));
        hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(v, ps));
        if (wantOpens) {
            const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i - 31));
            const __m256i offset = _mm256_sub_epi8(next, zero);
            const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(offset, nine), offset);
            const __m256i wide = _mm256_cmpgt_epi8(_mm256_setzero_si256(), next); // 0x80 and up
            hits = _mm256_or_si256(
                hits, _mm256_and_si256(_mm256_cmpeq_epi8(v, open), _mm256_or_si256(digit, wide)));
        }
        if (!_mm256_testz_si256(hits, hits))
            return i;
        i -= 32;
    }
    return i;
}

bool wideSkipAvailable()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

class Scanner {
public:
    Scanner(std::string_view text, TextServices& services)
        : s_(bytes(text)), n_(text.size()), services_(services) {}

    std::optional<Located> findLast() const
    {
        std::size_t limit = n_;
        for (;;) {
            const std::size_t found = lastMarker(s_, limit);
            if (found == none)
                return std::nullopt;
            const std::size_t end = lineEnd(s_, n_, found + marker.size());
            std::optional<Tail> tail;
            const std::size_t begin = lineStartAndLastTail(end, tail);
            if (tail)
                if (auto match = matchOnLine(begin, *tail))
                    return match;
            limit = begin;
        }
    }

private:
    struct Tail {
        std::size_t begin = 0, end = 0;
        Span number, total;
    };

    std::optional<Located> matchOnLine(std::size_t begin, const Tail& tail) const
    {
        // The greedy name runs to the line's last count; the first
        // "Collecting " that leaves at least one character before that count
        // starts the match.
        if (tail.begin < begin + marker.size() + 1)
            return std::nullopt;
        const std::string_view before(reinterpret_cast<const char*>(s_) + begin, tail.begin - 1 - begin);
        const std::size_t start = before.find(marker);
        if (start == none)
            return std::nullopt;
        Located located;
        located.whole = {begin + start, tail.end};
        located.name = {begin + start + marker.size(), tail.begin};
        located.number = tail.number;
        located.total = tail.total;
        return located;
    }

    // One pass back from the line's end `end`: the last " (digits/digits)"
    // of the line goes into `tail`, and the line's start is returned.
    std::size_t lineStartAndLastTail(std::size_t end, std::optional<Tail>& tail) const
    {
        // Looks at the byte just below `i`: true when a line end stops there.
        auto stopsAt = [&](std::size_t i) {
            if (terminatorEndsAt(s_, i))
                return true;
            if (!tail && i >= 2 && s_[i - 1] == '(' && s_[i - 2] == ' ')
                tail = tailAt(i - 2);
            return false;
        };
        std::size_t i = end; // the bytes below `i` are still to be seen
#ifdef TARNHOLLOW_WIDE_SKIP
        const bool wide = wideSkipAvailable();
#endif
        while (i >= Block::size) {
#ifdef TARNHOLLOW_WIDE_SKIP
            if (wide && i < n_)
                i = skipQuietBlocks(s_, i, !tail);
            if (i < Block::size)
                break;
#endif
            const std::size_t base = i - Block::size;
            const Block block(s_ + base);
            uint32_t candidates = block.atMost(0x0D);
            // U+0085, U+2028 and U+2029 end in these bytes; ASCII holds none.
            if (block.high())
                candidates |= block.equal(0x85) | block.equal(0xA8) | block.equal(0xA9);
            if (!tail) {
                uint32_t opens = block.equal('(');
                // Only an opening parenthesis before a digit (ASCII or, past
                // 0x7F, possibly another script's) can start a count: the
                // others, common in ordinary output, are passed over here.
                if (opens && base + 1 + Block::size <= n_) {
                    const Block next(s_ + base + 1);
                    opens &= (next.atMost('9') & ~next.atMost('/')) | ~next.atMost(0x7F);
                }
                candidates |= opens;
            }
            while (candidates) {
                const int k = highestBit(candidates);
                if (stopsAt(base + k + 1))
                    return base + k + 1;
                candidates &= ~(uint32_t{1} << k);
            }
            i = base;
        }
        for (; i > 0; --i)
            if (stopsAt(i))
                return i;
        return 0;
    }

    std::optional<Tail> tailAt(std::size_t at) const
    {
        Tail tail;
        tail.begin = at;
        tail.number.begin = at + 2;
        tail.number.end = digitsFrom(tail.number.begin);
        std::size_t i = tail.number.end;
        if (i == tail.number.begin || i >= n_ || s_[i] != '/')
            return std::nullopt;
        tail.total.begin = i + 1;
        tail.total.end = digitsFrom(tail.total.begin);
        i = tail.total.end;
        if (i == tail.total.begin || i >= n_ || s_[i] != ')')
            return std::nullopt;
        tail.end = i + 1;
        return tail;
    }

    // Past the run of decimal digits (of any script) that starts at `i`.
    std::size_t digitsFrom(std::size_t i) const
    {
        while (i < n_) {
            const unsigned char lead = s_[i];
            if (lead >= '0' && lead <= '9') {
                ++i;
                continue;
            }
            if (lead < 0x80)
                break;
            const utf8::Decoded d = utf8::decodeAt({reinterpret_cast<const char*>(s_), n_}, i);
            if (d.length == 0 || !services_.isDecimalDigit(d.code))
                break;
            i += d.length;
        }
        return i;
    }

    const unsigned char* s_;
    std::size_t n_;
    TextServices& services_;
};

} // namespace

std::optional<Located> findLast(std::string_view text, TextServices& services)
{
    return Scanner(text, services).findLast();
}

const RegularExpression& collectingExpression(TextServices& services)
{
    // Thread-safe one-time initialisation; it lives until the process ends.
    static const std::unique_ptr<RegularExpression> compiled = services.compile(pattern);
    return *compiled;
}

std::optional<RegularExpression::Match> lastMatch(std::string_view text, TextServices& services)
{
    const RegularExpression& expression = collectingExpression(services);
    const auto located = findLast(text, services);
    if (!located)
        return std::nullopt;
    // The engine gets only the match's own piece: one line without a line
    // end, where its first attempt succeeds after a short backtrack.
    auto found = expression.matches(located->whole.of(text));
    if (found.empty())
        return std::nullopt;
    RegularExpression::Match match = std::move(found.front());
    match.begin += located->whole.begin;
    match.end += located->whole.begin;
    return match;
}

} // namespace tarnhollow::progress
