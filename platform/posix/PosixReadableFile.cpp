// Reading a file that another process writes, without trusting what lies at
// its name: a FIFO there must not stall the main thread, and a link (to
// /dev/zero, say) must not be followed.
#include "platform/posix/PosixFileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhollow {

Date modificationDateOf(const struct stat& info)
{
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return Date(std::chrono::seconds(modified.tv_sec) + std::chrono::nanoseconds(modified.tv_nsec));
}

namespace {

std::optional<FileStatus> regularOnly(const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return std::nullopt;
    return FileStatus{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                      static_cast<uint64_t>(info.st_size), modificationDateOf(info)};
}

class PosixReadableFile final : public ReadableFile {
public:
    explicit PosixReadableFile(int fd)
        : fd_(fd)
    {
    }
    ~PosixReadableFile() override { ::close(fd_); }
    PosixReadableFile(const PosixReadableFile&) = delete;
    PosixReadableFile& operator=(const PosixReadableFile&) = delete;

    std::optional<FileStatus> status() override
    {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return std::nullopt;
        return regularOnly(info);
    }

    std::optional<std::size_t> readAt(uint64_t offset, char* into, std::size_t count) override
    {
        for (;;) {
            const ssize_t got = ::pread(fd_, into, count, static_cast<off_t>(offset));
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                return std::nullopt;
        }
    }

private:
    int fd_;
};

} // namespace

std::optional<FileStatus> PosixFileSystem::regularFileStatus(const std::filesystem::path& file)
{
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0)
        return std::nullopt;
    return regularOnly(info);
}

std::unique_ptr<ReadableFile> PosixFileSystem::openRegularFile(const std::filesystem::path& file)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto opened = std::make_unique<PosixReadableFile>(fd);
    // Whatever was swapped in between the name's check and the open shows here.
    if (!opened->status())
        return nullptr;
    return opened;
}

} // namespace tarnhollow
