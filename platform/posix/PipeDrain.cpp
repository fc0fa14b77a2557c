#include "platform/posix/PipeDrain.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace tarnhollow::posix {

bool drainAvailable(int fd, std::string& bytes, std::size_t limit)
{
    char chunk[64 * 1024];
    while (limit > 0) {
        const ssize_t count = ::read(fd, chunk, std::min(sizeof chunk, limit));
        if (count > 0) {
            bytes.append(chunk, static_cast<std::size_t>(count));
            limit -= static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace tarnhollow::posix
