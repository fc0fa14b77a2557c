#include "helpers/elevate/Installed.h"
#include "collector/Contract.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/FileDescriptor.h"
#include "platform/posix/FolderWithoutLinks.h"
#include "platform/posix/Spawn.h"
#include "platform/posix/WriteAll.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarnhollow::elevate {

namespace {

namespace contract = tarnhollow::contract;

// True when `path` and every folder above it belong to root and no one else
// may change them, so that what runs as root is what root put there.
bool onlyRootCanChange(std::filesystem::path path)
{
    for (;;) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode) || info.st_uid != 0 ||
            (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return false;
        if (path == path.root_path())
            return true;
        path = path.parent_path();
    }
}

using posix::FileDescriptor;

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user pkexec was asked by; nothing unless PKEXEC_UID names an account.
std::optional<User> pkexecUser()
{
    const char* text = std::getenv("PKEXEC_UID");
    uid_t uid = 0;
    if (!text || !*text || std::from_chars(text, text + std::strlen(text), uid).ptr != text + std::strlen(text))
        return std::nullopt;
    const struct passwd* account = ::getpwuid(uid);
    if (!account)
        return std::nullopt;
    return User{uid, account->pw_gid};
}

// The progress file, opened for writing only when its folder is the user's
// and no one else can write into it, and it is the user's own regular file
// with one name: as the root script checks it on the system shell's road.
int openProgressFile(const std::filesystem::path& file, const User& user)
{
    FileDescriptor folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (folder.get() < 0 || ::fstat(folder.get(), &info) != 0 || info.st_uid != user.uid ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return -1;
    const int fd =
        ::openat(folder.get(), file.filename().c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != user.uid || info.st_nlink != 1 ||
        ::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// The user's own folder, the one the app pinned, reached with no link.
bool isPinnedFolderOf(const std::string& folder, const std::string& pinText, const User& user)
{
    const auto pin = contract::parsePinText(pinText);
    FileDescriptor fd(posix::openFolderWithoutLinks(folder.c_str()));
    struct stat info {};
    return pin && fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && info.st_uid == user.uid &&
           static_cast<uint64_t>(info.st_dev) == pin->first && static_cast<uint64_t>(info.st_ino) == pin->second;
}

int say(int fd, std::string_view text)
{
    posix::writeAll(fd, std::string(text) + "\n");
    return 1;
}

} // namespace

bool isInstalledRunner()
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error) == installedRunner && !error &&
           onlyRootCanChange(installedRunner);
}

int collectForPkexecUser(const std::string& outputFolder, const std::string& pin, const std::string& progressFile)
{
    const auto user = pkexecUser();
    if (!user)
        return say(STDERR_FILENO, "elevate: PKEXEC_UID names no account");
    FileDescriptor progress(openProgressFile(progressFile, *user));
    if (progress.get() < 0)
        return say(STDERR_FILENO, contract::progressFileUnsafe);
    if (!isPinnedFolderOf(outputFolder, pin, *user))
        return say(progress.get(), contract::outputFolderChanged);
    if (!onlyRootCanChange(installedCollector))
        return say(progress.get(), contract::collectorChanged);

    // The collector sees only what it needs, as on the shell's road.
    ::clearenv();
    ::setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    ::setenv("SUDO_UID", std::to_string(user->uid).c_str(), 1);
    ::setenv("SUDO_GID", std::to_string(user->gid).c_str(), 1);
    ::setenv(std::string(contract::outputPinVariable).c_str(), pin.c_str(), 1);
    const posix::Spawned child =
        posix::spawn(installedCollector, {"tarnhollow", "-o", outputFolder}, {progress.get(), progress.get()});
    if (child.error != 0)
        return say(progress.get(),
                   std::string("elevate: cannot run the collector: ") + std::generic_category().message(child.error));
    const auto status = posix::waitForEnd(child.pid);
    return status ? *status : 1;
}

} // namespace tarnhollow::elevate
