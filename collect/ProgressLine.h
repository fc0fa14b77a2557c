// Finding the progress line that counts in the collector's output: the last
// match of "Collecting (.+) \((\d+)/(\d+)\)" (ICU semantics), found in time
// linear in the text.
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

// The match that a full left-to-right search would find last, or nothing.
// `text` must be valid UTF-8. No match spans a line end, and on one line
// only the first "Collecting " that has a count after it starts a match (the
// greedy name runs to the line's last count), so the answer is the one match
// on the last line that has one: the search walks back line by line and
// looks at each byte a bounded number of times.
std::optional<Located> findLast(std::string_view text, TextServices& services);

// The same match as the engine gives it: found by `findLast`, then matched
// by the engine on that piece alone. Offsets are into `text`.
std::optional<RegularExpression::Match> lastMatch(std::string_view text, TextServices& services);

// The expression itself, compiled on first use and kept for the process.
const RegularExpression& collectingExpression(TextServices& services);

} // namespace tarnhollow::progress
