#include "collector-tool/OutputDirectory.h"
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

// Creates name exclusively; never opens what is already there. 0 or errno.
int createExclusive(int folder, const std::string& name, int& fd)
{
    fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0 ? 0 : errno;
}

bool syncFails(int fd) { return ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS; }

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

OutputDirectory::~OutputDirectory()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int OutputDirectory::open(const std::string& path, std::optional<std::pair<uint64_t, uint64_t>> pin)
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

int OutputDirectory::create(const std::string& stem, PendingFile& file)
{
    file = PendingFile{};
#ifdef O_TMPFILE
    file.fd = ::openat(fd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file.fd >= 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return errno;
#endif
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::string name = candidateName(stem, attempt) + ".zip.part";
        const int error = createExclusive(fd_, name, file.fd);
        if (error == 0)
            file.placeholder = name;
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

int OutputDirectory::writeSidecar(const std::string& name, const std::string& sha256Hex, const Owner& owner)
{
    const std::string sidecarName = name + ".sha256";
    int fd = -1;
    if (const int error = createExclusive(fd_, sidecarName, fd))
        return error;
    int error = posix::writeAll(fd, sha256Hex + "  " + name + "\n");
    if (error == 0 && syncFails(fd))
        error = errno;
    if (owner.valid)
        (void)::fchown(fd, owner.uid, owner.gid);
    if (error != 0)
        unlinkIfOurs(fd_, sidecarName, fd);
    ::close(fd);
    return error;
}

int OutputDirectory::publish(PendingFile& file, const std::string& stem, const std::string& sha256Hex,
                             const Owner& owner, Published& published)
{
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::string candidate = candidateName(stem, attempt) + ".zip";
        struct stat st {};
        // A name whose sidecar is taken is passed over too: the pair goes together.
        if (::fstatat(fd_, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
            ::fstatat(fd_, (candidate + ".sha256").c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        const int linked = linkExclusive(fd_, file.fd, file.placeholder, candidate);
        if (linked == EEXIST)
            continue;
        if (linked != 0)
            return linked;
        // A placeholder swapped for someone else's file while it was renamed
        // by name: what now bears the name must be the file we wrote.
        struct stat mine {};
        if (::fstat(file.fd, &mine) != 0 || ::fstatat(fd_, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(mine, st))
            return EXDEV;
        if (!file.placeholder.empty())
            unlinkIfOurs(fd_, file.placeholder, file.fd);
        file.placeholder.clear();
        published.name = candidate;
        published.sidecarError = writeSidecar(candidate, sha256Hex, owner);
        // The names, not only the data, must survive a pulled stick.
        return syncFails(fd_) ? errno : 0;
    }
    return EEXIST;
}

void OutputDirectory::discard(PendingFile& file)
{
    if (!file.placeholder.empty())
        unlinkIfOurs(fd_, file.placeholder, file.fd);
    file.placeholder.clear();
}

} // namespace tarnhollow::tool
