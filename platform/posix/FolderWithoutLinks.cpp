#include "platform/posix/FolderWithoutLinks.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace tarnhollow::posix {

namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

#ifdef __linux__
// One component at a time, each opened without following a link: for
// kernels older than openat2 (5.6).
int openComponentByComponent(const char* path)
{
    const std::string text = path;
    int folder = ::open(text.starts_with("/") ? "/" : ".", folderFlags);
    std::size_t at = 0;
    while (folder >= 0 && at < text.size()) {
        const std::size_t next = std::min(text.find('/', at), text.size());
        const std::string name = text.substr(at, next - at);
        at = next + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") { // the paths handed to root are resolved: ".." is not in them
            ::close(folder);
            return -EINVAL;
        }
        const int child = ::openat(folder, name.c_str(), folderFlags | O_NOFOLLOW);
        const int error = errno;
        ::close(folder);
        folder = child;
        errno = error;
    }
    return folder >= 0 ? folder : -errno;
}
#endif

} // namespace

int openFolderWithoutLinks(const char* path)
{
#ifdef __linux__
    struct open_how how {};
    how.flags = folderFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
    if (fd >= 0)
        return static_cast<int>(fd);
    if (errno != ENOSYS && errno != EPERM) // EPERM: a seccomp filter that does not know the call
        return -errno;
    return openComponentByComponent(path);
#else
    // macOS 11 and later: no component may be a link.
    const int fd = ::open(path, folderFlags | O_NOFOLLOW_ANY);
    return fd >= 0 ? fd : -errno;
#endif
}

} // namespace tarnhollow::posix
