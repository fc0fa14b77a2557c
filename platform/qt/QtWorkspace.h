// The desktop's file manager: open a folder, or show a file selected in its
// folder. Failures have no visible effect.
#pragma once

#include "platform/Platform.h"

#include <QDBusConnection>
#include <QUrl>

#include <functional>

namespace tarnhollow {

class QtWorkspace final : public Workspace {
public:
    using Opener = std::function<void(const QUrl& folder)>;
    struct Options {
        // Opens a folder; by default the desktop's own handler (xdg-open).
        Opener open;
        // Where to ask a file manager to select the file; by default the
        // session bus. Without a connected bus the folder is opened.
        std::function<QDBusConnection()> bus;
    };
    QtWorkspace();
    explicit QtWorkspace(Options options);

    void openURL(const std::filesystem::path& folder) override;
    void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) override;

    // The URL of a path exactly as the file system spells it.
    static QUrl fileURL(const std::filesystem::path& path);

private:
    Options options_;
};

} // namespace tarnhollow
