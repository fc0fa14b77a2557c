#include "collect/ProgressLine.h"

#include "collect/ByteScan.h"

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

// Where the line that holds position `i` begins.
std::size_t lineStart(const unsigned char* s, std::size_t i)
{
    while (i >= 8) {
        const uint64_t v = load(s + i - 8);
        if ((someBelow(v, 0x0E) | equalBytes(v, 0x85) | equalBytes(v, 0xA8) | equalBytes(v, 0xA9)) == 0) {
            i -= 8;
            continue;
        }
        for (int k = 0; k < 8; ++k, --i)
            if (terminatorEndsAt(s, i))
                return i;
    }
    while (i > 0 && !terminatorEndsAt(s, i))
        --i;
    return i;
}

// Where the line that holds position `i` ends (its terminator, or the end).
std::size_t lineEnd(const unsigned char* s, std::size_t n, std::size_t i)
{
    while (n - i >= 8) {
        const uint64_t v = load(s + i);
        if ((someBelow(v, 0x0E) | equalBytes(v, 0xC2) | equalBytes(v, 0xE2)) == 0) {
            i += 8;
            continue;
        }
        for (int k = 0; k < 8; ++k, ++i)
            if (terminatorStartsAt(s, n, i))
                return i;
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
    // Candidates are the positions below `i`; a word holds eight of them,
    // tested on their 'C' and on their 'g'.
    std::size_t i = limit - marker.size() + 1;
    while (i >= 8) {
        const std::size_t base = i - 8;
        uint64_t hits = equalBytes(load(s + base), 'C') & equalBytes(load(s + base + 9), 'g');
        while (hits) {
            const int k = highestByte(hits);
            if (std::memcmp(s + base + k, marker.data(), marker.size()) == 0)
                return base + k;
            hits = withoutByte(hits, k);
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
            const std::size_t begin = lineStart(s_, found);
            const std::size_t end = lineEnd(s_, n_, found + marker.size());
            if (auto match = matchOnLine(begin, end))
                return match;
            limit = begin;
        }
    }

private:
    struct Tail {
        std::size_t begin = 0, end = 0;
        Span number, total;
    };

    std::optional<Located> matchOnLine(std::size_t begin, std::size_t end) const
    {
        // The greedy name runs to the line's last count; the first
        // "Collecting " that leaves at least one character before that count
        // starts the match.
        const auto tail = lastTail(begin, end);
        if (!tail || tail->begin < begin + marker.size() + 1)
            return std::nullopt;
        const std::string_view before(reinterpret_cast<const char*>(s_) + begin, tail->begin - 1 - begin);
        const std::size_t start = before.find(marker);
        if (start == none)
            return std::nullopt;
        Located located;
        located.whole = {begin + start, tail->end};
        located.name = {begin + start + marker.size(), tail->begin};
        located.number = tail->number;
        located.total = tail->total;
        return located;
    }

    // The last " (digits/digits)" in [begin, end).
    std::optional<Tail> lastTail(std::size_t begin, std::size_t end) const
    {
        std::size_t to = end;
        while (to > begin + 1) {
            const std::size_t open = lastByte(s_, begin + 1, to, '(');
            if (open == none)
                return std::nullopt;
            if (s_[open - 1] == ' ')
                if (auto tail = tailAt(open - 1))
                    return tail;
            to = open;
        }
        return std::nullopt;
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
            const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (n_ - i < static_cast<std::size_t>(length))
                break;
            char32_t code = lead & (0x7F >> length);
            for (int k = 1; k < length; ++k)
                code = (code << 6) | (s_[i + k] & 0x3F);
            if (!services_.isDecimalDigit(code))
                break;
            i += length;
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
