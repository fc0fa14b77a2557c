// Text helpers: everything the tool prints or writes as text goes through
// these, so that its output stays valid UTF-8 with plain line feeds.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace tarnhollow::tool {

// A file name or path as printable text: valid UTF-8 passes unchanged,
// except that '%', control characters (line feed, tab, ...) and every byte
// that is not part of valid UTF-8 become %HH. The mapping is reversible.
std::string escapeName(std::string_view bytes);

// Escaped text as printed outside the progress lines: '(' becomes %28, so
// that no name can complete a "Collecting NAME (N/M)" line of its own.
std::string unsteerable(std::string_view escaped);

// The system's description of an errno, for the log and the manifest.
std::string errorText(int error);

// "2026-12-06T08:29:15.123456789Z"
// The wall clock, for the times the log and the archive give.
struct timespec wallClockNow();
std::string isoUtc(const struct timespec& t);
// "20261206T082915Z", for file names.
std::string compactUtc(std::time_t t);

std::string octal(unsigned value, int width);

// Strict decimal number without sign or spaces, at most max.
bool parseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value);

// The host name reduced to characters that are safe in a file name.
std::string fileNameSafe(std::string_view text);

// Writes one whole line to a file descriptor, retrying short writes.
void writeLine(int fd, std::string_view line);

} // namespace tarnhollow::tool
