// A fake of the whole platform seam for tests. It logs every control,
// timer, workspace and toolkit operation in order, keeps each control's
// state, and lets the test step time, the main queue and the task's end by
// hand. File operations go to the real file system unless told to fail.
#pragma once

#include "platform/Platform.h"
#include "platform/posix/PosixFileSystem.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnhollow::testing {

struct FakeTextField {
    std::string text;
};

struct FakeBar {
    bool hidden = false;
    bool indeterminate = true;
    bool animating = false;
    double minValue = 0.0;
    double maxValue = 100.0;
    double value = 0.0;
};

struct FakeButton {
    std::string title;
    bool enabled = true;
};

class RecordingPlatform final : public Toolkit,
                                public Scheduler,
                                public TaskLauncher,
                                public Workspace,
                                public FileSystem,
                                public System {
public:
    RecordingPlatform();
    ~RecordingPlatform() override;

    Platform platform();

    // Everything recorded so far, then forgotten.
    std::vector<std::string> takeLog();
    std::vector<std::string> log;

    // What the controls show now.
    FakeTextField status, detail;
    FakeBar bar;
    FakeButton button;
    bool windowShown = false;

    // System facts; change them before the controller is created.
    std::filesystem::path bundle = "/Users/analyst/Tarnhollow.app";
    std::filesystem::path temporary = "/private/var/folders/T";
    std::filesystem::path home = "/Users/analyst";
    std::filesystem::path runner = "/usr/bin/osascript";
    bool installed = false;
    std::filesystem::path desktop = "/Users/analyst/Desktop";
    uint32_t uid = 501;
    uint32_t gid = 20;
    Date clock = Date(std::chrono::seconds(1'700'000'000));
    std::deque<std::string> uuids; // handed out first; then generated ones
    int uuidsHandedOut = 0;

    // Time and the main queue, stepped by hand. `advance` moves the clock and
    // fires every timer tick that falls due, in order.
    void advance(double seconds);
    void runMainQueue();
    std::size_t pendingMainQueueSteps() const { return mainQueue_.size(); }
    int liveTimers() const;

    // Tasks: every request, the answer the next launch gets, and the end.
    std::vector<TaskRequest> launches;
    LaunchResult nextLaunch{true, {}};
    bool taskRunning() const { return static_cast<bool>(onTermination_); }
    // Calls the termination handler as the platform's thread would.
    void endTask(int32_t status, std::string errorOutput);

    // What hashing the bundle's collector answers; nothing: it cannot be read.
    std::optional<std::string> collectorSha256 = std::string(64, 'c');
    // File system faults.
    bool failCreate = false;
    bool failRemove = false;

    // Files kept in memory instead of on disk, by path, for tests that grow,
    // cut or replace a file between polls many times over. A replaced file
    // gets a new inode; what was opened before keeps the old one.
    struct MemoryFile {
        std::string content;
        uint64_t inode = 0;
    };
    std::map<std::filesystem::path, std::shared_ptr<MemoryFile>> memoryFiles;
    // What reading files has cost, on disk and in memory alike.
    int statCalls = 0;
    int opens = 0;
    uint64_t bytesRead = 0;

    // Toolkit
    std::unique_ptr<TextField> makeLabel() override;
    std::unique_ptr<TextField> makeWrappingLabel() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
    std::unique_ptr<Button> makeButton() override;
    void setupMenu() override;
    std::unique_ptr<Window> setupWindow(TextField&, TextField&, ProgressIndicator&, Button&,
                                        std::function<void()> pressed) override;
    void activateIgnoringOtherApps() override;
    // Presses the button as a user would: only while it is enabled.
    void click();

    // Scheduler
    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override;

    // TaskLauncher
    LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) override;

    // Workspace
    void openURL(const std::filesystem::path& folder) override;
    void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) override;

    // FileSystem
    std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent) override;
    bool createEmptyFile(const std::filesystem::path& file) override;
    std::optional<std::string> sha256OfFile(const std::filesystem::path& file) override;
    std::optional<FileStatus> regularFileStatus(const std::filesystem::path& file) override;
    std::unique_ptr<ReadableFile> openRegularFile(const std::filesystem::path& file) override;
    bool removeItem(const std::filesystem::path& item) override;
    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
        const std::filesystem::path& folder) override;
    std::optional<Date> contentModificationDate(const std::filesystem::path& item) override;

    // System
    std::filesystem::path bundlePath() override { return bundle; }
    std::filesystem::path temporaryDirectory() override { return temporary; }
    std::filesystem::path homeDirectory() override { return home; }
    std::filesystem::path elevationRunner() override { return runner; }
    bool isInstalledCopy() override { return installed; }
    std::filesystem::path desktopDirectory() override { return desktop; }
    Date now() override { return clock; }
    uint32_t userID() override { return uid; }
    uint32_t groupID() override { return gid; }
    std::string newUUIDString() override;

    // Unicode services: the real ones of this system.
    TextServices& text();

private:
    struct ScheduledTimer;
    std::vector<std::shared_ptr<ScheduledTimer>> timers_;
    std::deque<std::function<void()>> mainQueue_;
    TerminationHandler onTermination_;
    std::function<void()> pressed_;
    PosixFileSystem realFiles_;
    std::unique_ptr<TextServices> text_;
};

// Formats a number as the log shows it: "5", "0.5", "-1".
std::string formatNumber(double value);

} // namespace tarnhollow::testing
