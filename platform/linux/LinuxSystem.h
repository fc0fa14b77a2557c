// Facts about the running process and its user on Linux.
#pragma once

#include "platform/Platform.h"

#include <sys/types.h>

namespace tarnhollow {

class LinuxSystem final : public System {
public:
    std::filesystem::path bundlePath() override;
    std::filesystem::path temporaryDirectory() override;
    std::filesystem::path homeDirectory() override;
    std::filesystem::path elevationRunner() override;
    bool isInstalledCopy() override;
    std::filesystem::path desktopDirectory() override;
    const texts::PlatformWords& words() override { return texts::linuxWords; }
    Date now() override;
    uint32_t userID() override;
    uint32_t groupID() override;
    std::string newUUIDString() override;

    // The bundle that holds `executable` as Contents/MacOS/<name>, or the
    // executable's own folder when it lies outside such a layout.
    static std::filesystem::path bundleOf(const std::filesystem::path& executable);
    // $TMPDIR when set, else /tmp; without a trailing "/".
    static std::filesystem::path temporaryDirectoryFrom(const char* tmpdir);
    // Where the Debian package puts the bundle.
    static constexpr const char* installedBundle = "/opt/tarnhollow/Tarnhollow.app";
    // The desktop folder that `userDirs` (the text of user-dirs.dirs, maybe
    // empty) names for a user whose home is `home`; else home/Desktop.
    static std::filesystem::path desktopFolderFrom(const std::filesystem::path& home, const std::string& userDirs);
};

} // namespace tarnhollow
