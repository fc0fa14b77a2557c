// The seam's system services on the Mac: the main run loop and queue, the
// workspace, process facts and Unicode text services from Foundation.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class AppKitScheduler final : public Scheduler {
public:
    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override;
};

class AppKitWorkspace final : public Workspace {
public:
    void openURL(const std::filesystem::path& folder) override;
    void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) override;
};

class AppKitSystem final : public System {
public:
    std::filesystem::path bundlePath() override;
    std::filesystem::path temporaryDirectory() override;
    std::filesystem::path homeDirectory() override;
    std::filesystem::path elevationRunner() override;
    bool isInstalledCopy() override;
    std::filesystem::path desktopDirectory() override;
    Date now() override;
    uint32_t userID() override;
    uint32_t groupID() override;
    std::string newUUIDString() override;
};

class FoundationTextServices final : public TextServices {
public:
    std::unique_ptr<RegularExpression> compile(std::string_view pattern) override;
    bool isDecimalDigit(char32_t codePoint) override;
};

} // namespace tarnhollow::appkit
