#include "platform/posix/PosixFileSystem.h"
#include "platform/digest/Sha256.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/FolderWithoutLinks.h"

#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhollow {

using posix::FileDescriptor;

std::optional<std::filesystem::path> PosixFileSystem::makePrivateFolder(const std::filesystem::path& parent)
{
    std::string pattern = (parent / "tarnhollow-XXXXXXXX").string();
    if (!::mkdtemp(pattern.data())) // 0700, and never an existing name
        return std::nullopt;
    return std::filesystem::path(pattern);
}

std::optional<ResolvedFolder> PosixFileSystem::resolveFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(folder, error);
    if (error)
        return std::nullopt;
    // Reached as root will reach it: with no link on the way.
    FileDescriptor fd(posix::openFolderWithoutLinks(resolved.c_str()));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0)
        return std::nullopt;
    return ResolvedFolder{resolved, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

bool PosixFileSystem::createEmptyFile(const std::filesystem::path& file)
{
    // Owner-only: the file will hold what the collector says about this machine.
    FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    return fd.get() >= 0;
}

std::optional<std::string> PosixFileSystem::sha256OfFile(const std::filesystem::path& file)
{
    // Non-blocking, so that a FIFO in the file's place cannot hold us up.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    Sha256 digest;
    std::array<unsigned char, 1 << 16> buffer;
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return digest.finishHex();
        digest.update(buffer.data(), static_cast<std::size_t>(got));
    }
}

bool PosixFileSystem::removeItem(const std::filesystem::path& item)
{
    // Never recursive: the controller removes only its own file and then
    // the folder made for it, which is empty by then.
    std::error_code error;
    return std::filesystem::remove(item, error) && !error;
}

std::optional<std::vector<std::filesystem::path>>
PosixFileSystem::contentsOfDirectory(const std::filesystem::path& folder)
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
    // A link is passed over, whatever it leads to; so is anything another
    // account could have planted.
    if (::lstat(item.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) ||
        info.st_uid != ::getuid())
        return std::nullopt;
    return modificationDateOf(info);
}

} // namespace tarnhollow
