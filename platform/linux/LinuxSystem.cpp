#include "platform/linux/LinuxSystem.h"

#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace tarnhollow {

namespace {

std::filesystem::path withoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

std::filesystem::path LinuxSystem::bundleOf(const std::filesystem::path& executable)
{
    const std::filesystem::path folder = executable.parent_path();
    const std::filesystem::path contents = folder.parent_path();
    if (folder.filename() == "MacOS" && contents.filename() == "Contents" && contents.has_parent_path() &&
        contents.parent_path() != contents)
        return withoutTrailingSlash(contents.parent_path().string());
    return withoutTrailingSlash(folder.string());
}

std::filesystem::path LinuxSystem::bundlePath()
{
    std::error_code error;
    // The kernel's link already resolves every symbolic link on the way.
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty())
        return std::filesystem::current_path(error);
    return bundleOf(executable);
}

std::filesystem::path LinuxSystem::temporaryDirectoryFrom(const char* tmpdir)
{
    if (tmpdir && *tmpdir)
        return withoutTrailingSlash(tmpdir);
    return "/tmp";
}

std::filesystem::path LinuxSystem::temporaryDirectory() { return temporaryDirectoryFrom(std::getenv("TMPDIR")); }

std::filesystem::path LinuxSystem::homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return withoutTrailingSlash(home);
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return withoutTrailingSlash(found->pw_dir);
    return "/";
}

std::filesystem::path LinuxSystem::elevationRunner() { return bundlePath() / "Contents" / "Helpers" / "elevate"; }

bool LinuxSystem::isInstalledCopy() { return bundlePath() == installedBundle; }

std::filesystem::path LinuxSystem::desktopFolderFrom(const std::filesystem::path& home, const std::string& userDirs)
{
    // Lines such as XDG_DESKTOP_DIR="$HOME/デスクトップ", as xdg-user-dirs
    // writes them: an absolute path or one relative to $HOME, in quotes.
    std::istringstream lines(userDirs);
    std::string line;
    while (std::getline(lines, line)) {
        constexpr std::string_view key = "XDG_DESKTOP_DIR=\"";
        if (!line.starts_with(key) || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.find('\\') != std::string::npos)
            continue; // escapes: not worth guessing at
        if (value.starts_with("$HOME/"))
            return withoutTrailingSlash((home / value.substr(6)).string());
        if (value == "$HOME")
            return home;
        if (value.starts_with('/'))
            return withoutTrailingSlash(value);
    }
    return home / "Desktop";
}

std::filesystem::path LinuxSystem::desktopDirectory()
{
    const std::filesystem::path home = homeDirectory();
    std::filesystem::path config = home / ".config";
    if (const char* configured = std::getenv("XDG_CONFIG_HOME"); configured && *configured == '/')
        config = configured;
    std::ifstream file(config / "user-dirs.dirs");
    std::stringstream text;
    text << file.rdbuf();
    const std::filesystem::path desktop = desktopFolderFrom(home, text.str());
    // Without a desktop folder the home folder is the next place a user looks.
    std::error_code error;
    return std::filesystem::is_directory(desktop, error) ? desktop : home;
}

Date LinuxSystem::now()
{
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

uint32_t LinuxSystem::userID() { return getuid(); }

uint32_t LinuxSystem::groupID() { return getgid(); }

std::string LinuxSystem::newUUIDString()
{
    std::array<unsigned char, 16> bytes{};
    if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        std::random_device device;
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(device());
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant

    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back('-');
        text.push_back(hex[bytes[i] >> 4]);
        text.push_back(hex[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace tarnhollow
