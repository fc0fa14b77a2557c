// A Node from what stat and statx tell of a path or an open file.
#include "collector-tool/Sources.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace tarnhollow::tool {

void fillFromStat(const struct stat& st, Node& node)
{
    node.mode = st.st_mode;
    node.uid = st.st_uid;
    node.gid = st.st_gid;
    node.size = static_cast<std::uint64_t>(st.st_size);
    node.dev = st.st_dev;
    node.ino = st.st_ino;
    node.nlink = st.st_nlink;
    node.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
    node.rdev = st.st_rdev;
#ifdef __APPLE__
    node.mtime = st.st_mtimespec;
    node.atime = st.st_atimespec;
    node.ctime = st.st_ctimespec;
    node.birthtime = st.st_birthtimespec;
    node.hasBirthtime = true;
#else
    node.mtime = st.st_mtim;
    node.atime = st.st_atim;
    node.ctime = st.st_ctim;
    node.hasBirthtime = false;
#endif
}

// Only Linux says whether it knows a birth time, and only through statx.
void addBirthtime([[maybe_unused]] int dirFd, [[maybe_unused]] const char* name, [[maybe_unused]] int flags,
                  [[maybe_unused]] Node& node)
{
#if !defined(__APPLE__) && defined(STATX_BTIME)
    struct statx sx {};
    if (::statx(dirFd, name, flags | AT_STATX_DONT_SYNC, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME) != 0) {
        node.birthtime = {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
        node.hasBirthtime = true;
    }
#endif
}

int statOpened(int fd, Node& node)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errno;
    fillFromStat(st, node);
#ifdef AT_EMPTY_PATH
    addBirthtime(fd, "", AT_EMPTY_PATH, node);
#endif
    return 0;
}

} // namespace tarnhollow::tool
