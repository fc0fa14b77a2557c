#include "platform/appkit/AppKitSystem.h"

#include "platform/appkit/Strings.h"

#import <Foundation/Foundation.h>

#include <chrono>
#include <unistd.h>

namespace tarnhollow::appkit {

std::filesystem::path AppKitSystem::bundlePath() { return pathOf([[NSBundle mainBundle] bundleURL]); }

std::filesystem::path AppKitSystem::temporaryDirectory()
{
    return pathOf([[NSFileManager defaultManager] temporaryDirectory]);
}

std::filesystem::path AppKitSystem::homeDirectory()
{
    return pathOf([[NSFileManager defaultManager] homeDirectoryForCurrentUser]);
}

std::filesystem::path AppKitSystem::elevationRunner() { return "/usr/bin/osascript"; }

// A Mac app is dragged wherever the user wants it; there is no installed copy
// that the user could not write beside.
bool AppKitSystem::isInstalledCopy() { return false; }

std::filesystem::path AppKitSystem::desktopDirectory()
{
    NSURL* desktop = [[NSFileManager defaultManager] URLForDirectory:NSDesktopDirectory
                                                            inDomain:NSUserDomainMask
                                                   appropriateForURL:nil
                                                              create:NO
                                                               error:nil];
    return desktop ? pathOf(desktop) : homeDirectory() / "Desktop";
}

Date AppKitSystem::now()
{
    // The same clock as the file system's modification times.
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

uint32_t AppKitSystem::userID() { return getuid(); }

uint32_t AppKitSystem::groupID() { return getgid(); }

std::string AppKitSystem::newUUIDString() { return toUtf8([[NSUUID UUID] UUIDString]); }

} // namespace tarnhollow::appkit
