#include "platform/posix/PosixFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhollow {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

bool PosixFileSystem::createEmptyFile(const std::filesystem::path& file)
{
    // Owner-only: the file will hold what the collector says about this machine.
    FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    return fd.get() >= 0;
}

std::optional<FileContents> PosixFileSystem::readWholeFile(const std::filesystem::path& file)
{
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;

    // One byte past the size seen, so that the end of the file is found
    // without a second allocation unless it grows while being read.
    FileContents content(static_cast<std::size_t>(info.st_size) + 1);
    for (;;) {
        if (content.room() == 0)
            content.grow(std::max<std::size_t>(1 << 20, content.size() / 4));
        const ssize_t got = ::read(fd.get(), content.unread(), content.room());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return content;
        content.advance(static_cast<std::size_t>(got));
    }
}

bool PosixFileSystem::removeItem(const std::filesystem::path& item)
{
    std::error_code error;
    std::filesystem::remove_all(item, error);
    return !error;
}

std::optional<std::vector<std::filesystem::path>> PosixFileSystem::contentsOfDirectory(
    const std::filesystem::path& folder)
{
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return std::nullopt;
    std::vector<std::filesystem::path> entries;
    while (const dirent* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        entries.push_back(folder / name);
    }
    ::closedir(directory);
    return entries;
}

std::optional<Date> PosixFileSystem::contentModificationDate(const std::filesystem::path& item)
{
    struct stat info {};
    if (::stat(item.c_str(), &info) != 0)
        return std::nullopt;
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return Date(std::chrono::seconds(modified.tv_sec) + std::chrono::nanoseconds(modified.tv_nsec));
}

} // namespace tarnhollow
