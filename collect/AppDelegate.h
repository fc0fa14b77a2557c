// The application's one controller: run state, screens, the collector run
// and its outcome. Portable C++: it reaches the screen and the system only
// through the Platform seam.
#pragma once

#include "collect/ProgressReader.h"
#include "platform/Platform.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tarnhollow {

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    enum class State { ready, running, done, failed };

    // Exactly one exists per process; the front end keeps it alive.
    static std::shared_ptr<AppDelegate> create(Platform& platform);

    // Called by the platform.
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const;
    void buttonPressed();

    State currentState() const { return state; }

private:
    friend class AppDelegateProbe; // tests reach the private steps through it

    explicit AppDelegate(Platform& platform);

    void setupMenu();
    void setupWindow();
    void setReady(const std::optional<std::string>& message);
    void fail(const std::string& message);
    void start();
    void poll();
    void finished(int32_t terminationStatus, const std::string& errorOutput);
    std::optional<std::filesystem::path> newestZip();
    static std::filesystem::path defaultOutputDir(System& system);

    Platform& platform;

    // The controller's data, in this order.
    std::unique_ptr<Window> window;
    const std::unique_ptr<TextField> status;
    const std::unique_ptr<TextField> detail;
    const std::unique_ptr<ProgressIndicator> bar;
    const std::unique_ptr<Button> button;
    State state = State::ready;
    std::unique_ptr<Timer> timer;
    std::optional<std::filesystem::path> progressURL;
    Date startDate;
    const std::filesystem::path outputDir;

    // Taken when the app starts: root runs only a collector with this
    // content and writes only into this very folder, whatever anyone puts
    // in their places later. Nothing when they could not be read.
    const std::optional<std::string> pinnedCollectorSha256;
    const std::optional<ResolvedFolder> pinnedOutputDir;

    // What the polls of this run have read of the progress file.
    ProgressReader progressReader;
};

} // namespace tarnhollow
