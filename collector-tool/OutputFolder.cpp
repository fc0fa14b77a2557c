#include "collector-tool/OutputFolder.h"
#include "platform/posix/FolderWithoutLinks.h"
#include "platform/posix/WriteAll.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tarnhollow::tool {

namespace {

constexpr int kAttempts = 200;

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Creates name exclusively; never opens what is already there.
int createExclusive(int folder, const std::string& name)
{
    const int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : -errno;
}

// Removes name only while it is still the file we hold.
void unlinkIfOurs(int folder, const std::string& name, int fd)
{
    struct stat mine {};
    struct stat there {};
    if (::fstat(fd, &mine) == 0 && ::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(mine, there))
        ::unlinkat(folder, name.c_str(), 0);
}

// Gives the open file fd the name, never replacing anything. 0 or errno.
int linkExclusive(int folder, int fd, const std::string& from, const std::string& to)
{
    if (from.empty()) {
#ifdef AT_EMPTY_PATH
        if (::linkat(fd, "", folder, to.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT && errno != EPERM)
            return errno;
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        return ::linkat(AT_FDCWD, self.c_str(), folder, to.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
#else
        (void)fd; // only Linux can name an open file
        return ENOTSUP;
#endif
    }
#if defined(__linux__)
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#elif defined(__APPLE__)
    if (::renameatx_np(folder, from.c_str(), folder, to.c_str(), RENAME_EXCL) == 0)
        return 0;
    if (errno != ENOTSUP && errno != EINVAL)
        return errno;
#endif
    // File systems without an exclusive rename (some removable media).
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
        ::unlinkat(folder, from.c_str(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    struct stat st {};
    if (::fstatat(folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
}

} // namespace

std::string candidateName(const std::string& base, int attempt)
{
    if (attempt <= 1)
        return base;
    if (attempt <= 20)
        return base + "-" + std::to_string(attempt);
    unsigned char random[6] = {};
    if (::getentropy(random, sizeof random) != 0)
        return base + "-" + std::to_string(attempt);
    std::string name = base;
    name += '-';
    for (unsigned char c : random) {
        name += "0123456789abcdef"[c >> 4];
        name += "0123456789abcdef"[c & 15];
    }
    return name;
}

OutputFolder::~OutputFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int OutputFolder::open(const std::string& path, std::optional<std::pair<uint64_t, uint64_t>> pin)
{
    if (!pin) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd_ >= 0 ? 0 : errno;
    }
    const int fd = posix::openFolderWithoutLinks(path.c_str());
    if (fd < 0)
        return -fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || static_cast<uint64_t>(info.st_dev) != pin->first ||
        static_cast<uint64_t>(info.st_ino) != pin->second) {
        ::close(fd);
        return ESTALE;
    }
    fd_ = fd;
    return 0;
}

int OutputFolder::createArchiveFile(const std::string& base)
{
#ifdef O_TMPFILE
    const int nameless = ::openat(fd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (nameless >= 0)
        return nameless;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return -errno;
#endif
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::string name = candidateName(base, attempt) + ".zip.part";
        const int fd = createExclusive(fd_, name);
        if (fd >= 0) {
            partName_ = name;
            return fd;
        }
        if (fd != -EEXIST)
            return fd;
    }
    return -EEXIST;
}

int OutputFolder::publish(int fd, const std::string& base, const std::string& sha256Hex, uid_t uid, gid_t gid,
                          bool chown, std::string& name)
{
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::string candidate = candidateName(base, attempt) + ".zip";
        struct stat st {};
        if (::fstatat(fd_, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        const std::string sidecarName = candidate + ".sha256";
        const int sidecar = createExclusive(fd_, sidecarName);
        if (sidecar == -EEXIST)
            continue;
        if (sidecar < 0)
            return -sidecar;
        const bool written = posix::writeAll(sidecar, sha256Hex + "  " + candidate + "\n") == 0;
        if (chown)
            (void)::fchown(sidecar, uid, gid);
        const int linked = written ? linkExclusive(fd_, fd, partName_, candidate) : errno ? errno : EIO;
        if (linked != 0)
            unlinkIfOurs(fd_, sidecarName, sidecar);
        ::close(sidecar);
        if (linked == EEXIST)
            continue;
        if (linked != 0)
            return linked;
        // A placeholder swapped for someone else's file while it was renamed
        // by name: what now bears the name must be the file we wrote.
        struct stat mine {};
        if (::fstat(fd, &mine) != 0 || ::fstatat(fd_, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(mine, st))
            return EXDEV;
        if (!partName_.empty())
            unlinkIfOurs(fd_, partName_, fd);
        partName_.clear();
        name = candidate;
        return 0;
    }
    return EEXIST;
}

void OutputFolder::discard(int fd)
{
    if (!partName_.empty())
        unlinkIfOurs(fd_, partName_, fd);
    partName_.clear();
}

} // namespace tarnhollow::tool
