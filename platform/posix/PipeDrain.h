// Reading a pipe without blocking: whatever it holds now, and whether more
// can come.
#pragma once

#include <cstddef>
#include <string>

namespace tarnhollow::posix {

// At most this much per call by default, so that a writer that never
// pauses cannot keep the reader from its other work.
inline constexpr std::size_t drainStep = 1 << 20;

// Appends to `bytes` what `fd` (non-blocking) holds now, at most `limit`
// bytes. Answers true while the writer may still write; false once the pipe
// has reached its end or cannot be read any more.
bool drainAvailable(int fd, std::string& bytes, std::size_t limit = drainStep);

} // namespace tarnhollow::posix
