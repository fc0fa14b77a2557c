// Pieces of the collector's output and of the runner's error output that
// the end of a run shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnhollow {
class ReadableFile;
}

namespace tarnhollow::lines {

// The last non-empty piece between line feeds, unchanged, or the empty
// text. A carriage return and line feed pair is one character, not a line
// feed, so only a line feed without a carriage return before it separates.
std::string_view lastNonEmptyLine(std::string_view text);

// The same for the whole of an opened file, read from its start in steps
// of `chunk` bytes; the empty text when the file cannot be read or is not
// valid UTF-8 throughout. Holds no more than the longest line.
std::string lastNonEmptyLineOf(ReadableFile& file, std::size_t chunk = 64 * 1024);

// The text without white space and line ends at either end: the Unicode
// space separators, U+2028, U+2029, tab, LF, VT, FF, CR and U+0085.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

} // namespace tarnhollow::lines
