#include "platform/appkit/AppKitServices.h"

#include "platform/appkit/Strings.h"

#include <chrono>
#include <unistd.h>

namespace tarnhollow::appkit {

std::filesystem::path AppKitSystem::bundlePath()
{
    return pathOf([[NSBundle mainBundle] bundleURL]);
}

std::filesystem::path AppKitSystem::temporaryDirectory()
{
    return pathOf([[NSFileManager defaultManager] temporaryDirectory]);
}

std::filesystem::path AppKitSystem::homeDirectory()
{
    return pathOf([[NSFileManager defaultManager] homeDirectoryForCurrentUser]);
}

std::filesystem::path AppKitSystem::elevationRunner()
{
    return "/usr/bin/osascript";
}

Date AppKitSystem::now()
{
    // The same clock as the file system's modification times.
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

uint32_t AppKitSystem::userID()
{
    return getuid();
}

uint32_t AppKitSystem::groupID()
{
    return getgid();
}

std::string AppKitSystem::newUUIDString()
{
    return toUtf8([[NSUUID UUID] UUIDString]);
}

} // namespace tarnhollow::appkit
