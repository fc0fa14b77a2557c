#include "collector-tool/ArchiveFiles.h"

#include "collector-tool/Text.h"

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

// FAT keeps a file's size in 32 bits.
constexpr std::uint64_t kFatLimit = 0xFFFFFFFFu;
constexpr std::uint64_t kSlack = 1 << 20;

} // namespace

std::uint64_t fileSizeLimit(int fd)
{
    std::uint64_t limit = UINT64_MAX;
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_FSIZE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
        limit = static_cast<std::uint64_t>(rl.rlim_cur);
    struct statfs fs {};
    if (::fstatfs(fd, &fs) == 0) {
#ifdef __APPLE__
        const bool fat = std::strcmp(fs.f_fstypename, "msdos") == 0;
#else
        const bool fat = fs.f_type == 0x4d44; // MSDOS_SUPER_MAGIC
#endif
        if (fat)
            limit = std::min(limit, kFatLimit);
    }
    return limit;
}

ArchiveFiles::ArchiveFiles(OutputDirectory& directory, std::string base, const Owner& owner, SourceTree& tree,
                           const struct timespec& start)
    : directory_(directory),
      base_(std::move(base)),
      owner_(owner),
      tree_(tree),
      start_(start)
{
}

ArchiveFiles::~ArchiveFiles()
{
    discard();
    for (int fd : finished_)
        ::close(fd);
    if (part_.file.fd >= 0)
        ::close(part_.file.fd);
}

// Coarse file systems (two-second steps) can round the time down to before
// the run began, where the application would not look for it.
void ArchiveFiles::dateAfterStart(int fd) const
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return;
#ifdef __APPLE__
    const struct timespec& mtime = st.st_mtimespec;
#else
    const struct timespec& mtime = st.st_mtim;
#endif
    if (mtime.tv_sec < start_.tv_sec || (mtime.tv_sec == start_.tv_sec && mtime.tv_nsec < start_.tv_nsec)) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {start_.tv_sec + 2, 0}};
        ::futimens(fd, times);
    }
}

int ArchiveFiles::openPart()
{
    part_ = Part{};
    if (const int error = directory_.create(base_, part_.file))
        return error;
    const int fd = part_.file.fd;
    // Handed over at once, on the open file: the medium tells now whether
    // it keeps an owner and a mode at all.
    if (owner_.valid)
        (void)::fchown(fd, owner_.uid, owner_.gid);
    ::fchmod(fd, 0600);
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        tree_.exclude(st.st_dev, st.st_ino); // the archive must not collect itself
    ScratchFile directory;
    for (ScratchFile* file : {&directory, &part_.manifest, &part_.timeline})
        if (const int error = ScratchFile::create(directory_.fd(), *file))
            return error;
    part_.archive = std::make_unique<Archive>(fd, std::move(directory));
    part_.archive->setLimit(limit_);
    return part_.archive->error();
}

void ArchiveFiles::noteMedium(std::vector<std::string>& notes)
{
    struct stat st {};
    if (::fstat(part_.file.fd, &st) == 0 && owner_.valid && (st.st_uid != owner_.uid || st.st_gid != owner_.gid))
        ownerKept_ = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    if (::fstat(part_.file.fd, &st) == 0 &&
        ((owner_.valid && (st.st_uid != owner_.uid || st.st_gid != owner_.gid)) || (st.st_mode & 07777) != 0600))
        notes.push_back("archive file: the output medium keeps owner " + std::to_string(st.st_uid) + ":" +
                        std::to_string(st.st_gid) + " and mode " + octal(st.st_mode & 07777, 4) +
                        " instead of the ones set (a file system without Unix ownership, such as FAT or exFAT)");
    if (limit_ != UINT64_MAX)
        notes.push_back("archive file size limit: " + std::to_string(limit_) +
                        " bytes; a larger collection goes on in further archives");
}

int ArchiveFiles::start(std::vector<std::string>& notes)
{
    limit_ = fileSizeLimit(directory_.fd());
    if (const int error = openPart())
        return error;
    noteMedium(notes);
    if (const int error = reserve_.open(directory_.fd()))
        return error;
    return keepRoom(0);
}

int ArchiveFiles::keepRoom(std::uint64_t pending)
{
    // Deflate may add a little to what it cannot shrink.
    const std::uint64_t closing = pending + pending / 64 + kSlack;
    part_.archive->setReserve(closing);
    if (closing + kSlack / 2 <= reserve_.size())
        return 0;
    // The reserve is a file too: the size limit may refuse it, the medium not.
    const int error = reserve_.grow(std::min(closing + 2 * kSlack, limit_));
    return error == EFBIG ? 0 : error;
}

int ArchiveFiles::finish(const std::string& suffix, bool more)
{
    dateAfterStart(part_.file.fd);
    Published published;
    if (const int error = directory_.publish(part_.file, base_ + suffix, part_.archive->sha256(), owner_, published))
        return error;
    published_.push_back(published);
    finished_.push_back(part_.file.fd);
    part_.file.fd = -1;
    return more ? openPart() : 0;
}

} // namespace tarnhollow::tool
