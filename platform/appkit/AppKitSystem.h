// Facts about the running process and its user on the Mac.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class AppKitSystem final : public System {
public:
    std::filesystem::path bundlePath() override;
    std::filesystem::path temporaryDirectory() override;
    std::filesystem::path homeDirectory() override;
    std::filesystem::path elevationRunner() override;
    bool isInstalledCopy() override;
    std::filesystem::path desktopDirectory() override;
    const texts::PlatformWords& words() override { return texts::macWords; }
    Date now() override;
    uint32_t userID() override;
    uint32_t groupID() override;
    std::string newUUIDString() override;
};

} // namespace tarnhollow::appkit
