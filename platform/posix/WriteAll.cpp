#include "platform/posix/WriteAll.h"

#include <cerrno>
#include <unistd.h>

namespace tarnhollow::posix {

int writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

int writeAllAt(int fd, const void* data, std::size_t size, unsigned long long offset)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        bytes += written;
        offset += static_cast<unsigned long long>(written);
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

} // namespace tarnhollow::posix
