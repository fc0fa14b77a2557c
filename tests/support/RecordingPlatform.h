// A fake of the whole platform seam for tests. It logs every control,
// timer, task and workspace operation in order, keeps each control's state,
// and lets the test step time, the main queue and the task's end by hand.
// Files go to the real file system unless told to fail.
#pragma once

#include "platform/Platform.h"
#include "platform/icu/IcuTextServices.h"
#include "platform/posix/PosixFileSystem.h"

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnhollow::testing {

// What a control shows now: a label its text, a button its title.
struct FakeControl {
    std::string text, title;
    bool hidden = false, indeterminate = true, animating = false, enabled = true;
    double maxValue = 100.0, value = 0.0;
};

class RecordingPlatform : public Toolkit,
                          public Scheduler,
                          public TaskLauncher,
                          public Workspace,
                          public FileSystem,
                          public System {
public:
    RecordingPlatform();
    ~RecordingPlatform() override;
    Platform platform() { return Platform{*this, *this, *this, *this, *this, *this, *text_}; }
    IcuTextServices& text() { return *text_; }

    // Everything recorded so far, then forgotten.
    std::vector<std::string> takeLog() { return std::exchange(log, {}); }
    std::vector<std::string> log;
    FakeControl status, detail, bar, button;

    // System facts; change them before the controller is created.
    std::filesystem::path bundle = "/Users/analyst/Tarnhollow.app", temporary = "/private/var/folders/T",
                          home = "/Users/analyst", runner = "/usr/bin/osascript", desktop = "/Users/analyst/Desktop";
    bool installed = false;
    texts::PlatformWords platformWords = texts::macWords;
    uint32_t uid = 501, gid = 20;
    Date clock = Date(std::chrono::seconds(1'700'000'000));
    std::vector<std::string> uuids; // handed out first; then generated ones
    int uuidsHandedOut = 0;

    // Moves the clock, firing every timer tick that falls due, in order.
    void advance(double seconds);
    void runMainQueue();
    int liveTimers() const;

    std::vector<TaskRequest> launches;
    LaunchResult nextLaunch{true, {}};
    // Calls the termination handler as the platform's thread would.
    void endTask(int32_t status, std::string errorOutput)
    {
        if (auto handler = std::exchange(onTermination_, nullptr))
            handler(status, std::move(errorOutput));
    }
    // Presses the button as a user would: only while it is enabled.
    void click()
    {
        if (pressed_ && button.enabled)
            pressed_();
    }

    // What hashing the bundle's collector answers; nothing: it cannot be read.
    std::optional<std::string> collectorSha256 = std::string(64, 'c');
    // What resolving the output folder answers; nothing: it is gone.
    std::optional<ResolvedFolder> resolvedOutput = ResolvedFolder{"/resolved/out", 7, 42};
    bool failCreate = false, failRemove = false;

    std::unique_ptr<TextField> makeLabel() override;
    std::unique_ptr<TextField> makeWrappingLabel() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
    std::unique_ptr<Button> makeButton() override;
    void setupMenu() override { log.push_back("toolkit.setupMenu"); }
    std::unique_ptr<Window> setupWindow(TextField&, TextField&, ProgressIndicator&, Button&,
                                        std::function<void()> pressed) override;
    void activateIgnoringOtherApps() override { log.push_back("toolkit.activateIgnoringOtherApps"); }

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override { mainQueue_.push_back(std::move(step)); }
    LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) override;
    void openURL(const std::filesystem::path& folder) override;
    void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) override;

    using Path = std::filesystem::path;
    std::optional<Path> makePrivateFolder(const Path& parent) override { return real_.makePrivateFolder(parent); }
    bool createEmptyFile(const Path& file) override { return !failCreate && real_.createEmptyFile(file); }
    std::optional<std::string> sha256OfFile(const Path&) override { return collectorSha256; }
    std::optional<ResolvedFolder> resolveFolder(const Path&) override { return resolvedOutput; }
    std::optional<FileStatus> regularFileStatus(const Path& file) override { return real_.regularFileStatus(file); }
    std::unique_ptr<ReadableFile> openRegularFile(const Path& file) override { return real_.openRegularFile(file); }
    bool removeItem(const Path& item) override { return !failRemove && real_.removeItem(item); }
    std::optional<std::vector<Path>> contentsOfDirectory(const Path& f) override
    {
        return real_.contentsOfDirectory(f);
    }
    std::optional<Date> contentModificationDate(const Path& i) override { return real_.contentModificationDate(i); }

    Path bundlePath() override { return bundle; }
    Path temporaryDirectory() override { return temporary; }
    Path homeDirectory() override { return home; }
    Path elevationRunner() override { return runner; }
    bool isInstalledCopy() override { return installed; }
    Path desktopDirectory() override { return desktop; }
    const texts::PlatformWords& words() override { return platformWords; }
    Date now() override { return clock; }
    uint32_t userID() override { return uid; }
    uint32_t groupID() override { return gid; }
    std::string newUUIDString() override;

private:
    struct ScheduledTimer;
    std::vector<std::shared_ptr<ScheduledTimer>> timers_;
    std::deque<std::function<void()>> mainQueue_;
    TerminationHandler onTermination_;
    std::function<void()> pressed_;
    PosixFileSystem real_;
    std::unique_ptr<IcuTextServices> text_;
};

} // namespace tarnhollow::testing
