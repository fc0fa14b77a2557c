// Finding the progress line that counts in the collector's output: the last
// match of "Collecting (.+) \((\d+)/(\d+)\)" as the regular-expression
// engine's full left-to-right search finds it (`.` stops at every line end,
// `\d` is any decimal digit), without running the engine.
//
// No match spans a line end, and a line holds at most one: it starts at the
// line's first "Collecting " and the greedy name runs to the line's last
// count, provided the name keeps at least one character. So the last match
// is the one on the last line that has one.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace tarnhollow::progress {

inline constexpr std::string_view pattern = R"(Collecting (.+) \((\d+)/(\d+)\))";

// Byte offsets into the searched text.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string_view of(std::string_view text) const { return text.substr(begin, end - begin); }
};

struct Located {
    Span whole, name, number, total;
};

// The match on one line, followed as the line grows: each call looks only
// at what was added, except a count that the end of the text cut short.
class LineMatch {
public:
    // `line` is the line from its first byte, without its line end, and
    // holds what earlier calls saw; `complete` when a line end follows it.
    void extend(std::string_view line, bool complete, TextServices& services);
    // Offsets into the line.
    std::optional<Located> match() const;

private:
    std::optional<std::size_t> marker_;
    std::size_t markerFrom_ = 0;   // where "Collecting " may still start
    std::size_t openFrom_ = 0;     // the first "(" not yet decided
    std::optional<Located> count_; // the last count: only its number and total
};

// The length of the line end that starts at byte `i`, or 0.
std::size_t lineEndAt(std::string_view text, std::size_t i);
// The first line end at or after `from`, or npos.
std::size_t nextLineEnd(std::string_view text, std::size_t from);
// Just past the text's last line end, or 0 when it has none.
std::size_t pastLastLineEnd(std::string_view text);

// The last match of the whole text.
std::optional<Located> findLast(std::string_view text, TextServices& services);

} // namespace tarnhollow::progress
