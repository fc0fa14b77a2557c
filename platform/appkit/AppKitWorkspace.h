// Finder: open a folder, or show a file selected in its folder. Failures
// have no visible effect.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class AppKitWorkspace final : public Workspace {
public:
    void openURL(const std::filesystem::path& folder) override;
    void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) override;
};

} // namespace tarnhollow::appkit
