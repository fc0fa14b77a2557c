#include "collect/ProgressLine.h"

#include "text/Utf8.h"

#include <cstring>

namespace tarnhollow::progress {

namespace {

constexpr std::string_view marker = "Collecting ";
constexpr std::size_t none = std::string_view::npos;
constexpr std::size_t block = 16;

const unsigned char* bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

// Written byte by byte so that the compiler can test a block at once on any
// processor; most blocks hold nothing a search looks for.
template <typename Test>
bool anyInBlock(const unsigned char* p, Test test)
{
    bool any = false;
    for (std::size_t k = 0; k < block; ++k)
        any |= test(p[k]);
    return any;
}

// Bytes that can begin a line end: LF, VT, FF, CR, and the leads of U+0085,
// U+2028 and U+2029.
bool mayBeginLineEnd(unsigned char c) { return (c >= 0x0A && c <= 0x0D) | (c == 0xC2) | (c == 0xE2); }

// The length of the line end that ends just before byte `i`, or 0.
std::size_t lineEndBefore(const unsigned char* s, std::size_t i)
{
    const unsigned char last = s[i - 1];
    if (last >= 0x0A && last <= 0x0D)
        return 1;
    if (last == 0x85 && i >= 2 && s[i - 2] == 0xC2)
        return 2;
    if ((last == 0xA8 || last == 0xA9) && i >= 3 && s[i - 2] == 0x80 && s[i - 3] == 0xE2)
        return 3;
    return 0;
}

// The last "Collecting " that lies wholly before `limit`, or none.
std::size_t lastMarker(std::string_view text, std::size_t limit)
{
    if (limit < marker.size())
        return none;
    const unsigned char* s = bytes(text);
    std::size_t i = limit - marker.size() + 1; // candidates lie below i
    for (;;) {
        while (i >= block && !anyInBlock(s + i - block, [](unsigned char c) { return c == 'C'; }))
            i -= block;
        const std::size_t stop = i >= block ? i - block : 0;
        for (; i > stop; --i)
            if (s[i - 1] == 'C' && std::memcmp(s + i - 1, marker.data(), marker.size()) == 0)
                return i - 1;
        if (i == 0)
            return none;
    }
}

// Past the run of decimal digits (of any script) that starts at `i`.
std::size_t digitsFrom(std::string_view line, std::size_t i, TextServices& services)
{
    while (i < line.size()) {
        const auto lead = static_cast<unsigned char>(line[i]);
        if (lead >= '0' && lead <= '9') {
            ++i;
            continue;
        }
        if (lead < 0x80)
            break;
        const utf8::Decoded d = utf8::decodeAt(line, i);
        if (d.length == 0 || !services.isDecimalDigit(d.code))
            break;
        i += d.length;
    }
    return i;
}

} // namespace

void LineMatch::extend(std::string_view line, bool complete, TextServices& services)
{
    if (!marker_) {
        const std::size_t at = line.find(marker, markerFrom_);
        if (at != none)
            marker_ = at;
        else if (line.size() >= marker.size())
            markerFrom_ = line.size() - marker.size() + 1;
    }
    // Every " (digits/digits)" in turn: the last one is the count that the
    // greedy name leaves. A count cut off by the end of what has arrived
    // so far is looked at again next time.
    for (;;) {
        const std::size_t open = line.find('(', openFrom_);
        if (open == none) {
            openFrom_ = line.size();
            return;
        }
        openFrom_ = open + 1;
        if (open == 0 || line[open - 1] != ' ')
            continue;
        // A count that reaches the end of what has arrived may go on.
        const auto cutShort = [&](std::size_t i) { return i == line.size() && !complete; };
        const std::size_t numberEnd = digitsFrom(line, open + 1, services);
        if (cutShort(numberEnd)) {
            openFrom_ = open;
            return;
        }
        if (numberEnd == open + 1 || numberEnd == line.size() || line[numberEnd] != '/')
            continue;
        const std::size_t totalEnd = digitsFrom(line, numberEnd + 1, services);
        if (cutShort(totalEnd)) {
            openFrom_ = open;
            return;
        }
        if (totalEnd == numberEnd + 1 || totalEnd == line.size() || line[totalEnd] != ')')
            continue;
        const std::size_t close = totalEnd, slash = numberEnd;
        Located count;
        count.name = {0, open - 1};
        count.number = {open + 1, numberEnd};
        count.total = {slash + 1, totalEnd};
        count.whole.end = close + 1;
        count_ = count;
        openFrom_ = close + 1;
    }
}

std::optional<Located> LineMatch::match() const
{
    // The name needs at least one character.
    if (!marker_ || !count_ || count_->name.end < *marker_ + marker.size() + 1)
        return std::nullopt;
    Located located = *count_;
    located.whole.begin = *marker_;
    located.name.begin = *marker_ + marker.size();
    return located;
}

std::size_t lineEndAt(std::string_view text, std::size_t i)
{
    const unsigned char* s = bytes(text);
    const unsigned char first = s[i];
    if (first >= 0x0A && first <= 0x0D)
        return 1;
    const std::size_t left = text.size() - i;
    if (first == 0xC2 && left >= 2 && s[i + 1] == 0x85)
        return 2;
    if (first == 0xE2 && left >= 3 && s[i + 1] == 0x80 && (s[i + 2] == 0xA8 || s[i + 2] == 0xA9))
        return 3;
    return 0;
}

std::size_t nextLineEnd(std::string_view text, std::size_t from)
{
    const unsigned char* s = bytes(text);
    std::size_t i = from;
    for (;;) {
        while (text.size() - i >= block && !anyInBlock(s + i, mayBeginLineEnd))
            i += block;
        const std::size_t stop = std::min(text.size(), i + block);
        for (; i < stop; ++i)
            if (lineEndAt(text, i))
                return i;
        if (i == text.size())
            return none;
    }
}

std::size_t pastLastLineEnd(std::string_view text)
{
    const unsigned char* s = bytes(text);
    std::size_t i = text.size();
    for (;;) {
        // The last bytes of LF, VT, FF, CR, U+0085, U+2028 and U+2029.
        while (i >= block && !anyInBlock(s + i - block, [](unsigned char c) {
                   return (c >= 0x0A && c <= 0x0D) | (c == 0x85) | (c == 0xA8) | (c == 0xA9);
               }))
            i -= block;
        const std::size_t stop = i >= block ? i - block : 0;
        for (; i > stop; --i)
            if (lineEndBefore(s, i))
                return i;
        if (i == 0)
            return 0;
    }
}

std::optional<Located> findLast(std::string_view text, TextServices& services)
{
    const unsigned char* s = bytes(text);
    std::size_t limit = text.size();
    // Back from the end, one line that holds "Collecting " at a time.
    for (;;) {
        const std::size_t at = lastMarker(text, limit);
        if (at == none)
            return std::nullopt;
        std::size_t begin = at;
        while (begin > 0 && !lineEndBefore(s, begin))
            --begin;
        std::size_t end = nextLineEnd(text, at + marker.size());
        if (end == none)
            end = text.size();
        LineMatch line;
        line.extend(text.substr(begin, end - begin), true, services);
        if (auto located = line.match()) {
            for (Span* span : {&located->whole, &located->name, &located->number, &located->total}) {
                span->begin += begin;
                span->end += begin;
            }
            return located;
        }
        limit = begin;
    }
}

} // namespace tarnhollow::progress
