// Reading a pipe without blocking: whatever it holds now, and whether more
// can come. Plain POSIX, so that it is tested on every system.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <unistd.h>

namespace tarnhollow::appkit {

// Appends to `bytes` everything `fd` (non-blocking) holds now. Answers true
// while the writer may still write; false once the pipe has reached its end
// or cannot be read any more.
inline bool drainAvailable(int fd, std::string& bytes)
{
    char chunk[65536];
    for (;;) {
        const ssize_t count = read(fd, chunk, sizeof chunk);
        if (count > 0)
            bytes.append(chunk, static_cast<std::size_t>(count));
        else if (count < 0 && errno == EINTR)
            continue;
        else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        else
            return false;
    }
}

} // namespace tarnhollow::appkit
