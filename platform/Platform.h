// The seam between the portable controller and the system it runs on.
// One small interface per concern; each system has one implementation of
// each, and the tests use a recording fake (tests/support).
#pragma once

#include "collect/Texts.h"
#include "platform/Controls.h"
#include "platform/Date.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhollow {

// Application, window, controls and menu.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    // The four controls, created empty and outside any window.
    virtual std::unique_ptr<TextField> makeLabel() = 0;         // one line
    virtual std::unique_ptr<TextField> makeWrappingLabel() = 0; // wraps
    virtual std::unique_ptr<ProgressIndicator> makeProgressIndicator() = 0;
    virtual std::unique_ptr<Button> makeButton() = 0;
    // The menu bar: one menu whose only item quits.
    virtual void setupMenu() = 0;
    // Styles and lays out the controls in the main window, wires the button
    // to `pressed`, and shows the window.
    virtual std::unique_ptr<Window> setupWindow(TextField& status, TextField& detail, ProgressIndicator& bar,
                                                Button& button, std::function<void()> pressed) = 0;
    // Brings the application to the front, even while another one is active.
    virtual void activateIgnoringOtherApps() = 0;
};

// The main thread's run loop.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // A repeating timer whose first tick comes one interval from now.
    virtual std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) = 0;
    // Runs `step` later on the main thread. Safe to call from any thread.
    virtual void postToMainQueue(std::function<void()> step) = 0;
};

struct TaskRequest {
    std::filesystem::path executable;
    std::vector<std::string> arguments; // argv[1...]
};

struct LaunchResult {
    bool launched = false;
    std::string errorDescription; // the system's words, when not launched
};

// Runs a program with its standard output on the null device and its error
// output on a pipe; standard input, environment and working folder are
// inherited.
class TaskLauncher {
public:
    virtual ~TaskLauncher() = default;
    // Called exactly once, on a thread of the platform's, after the program
    // has ended: its termination status and its whole error output as bytes.
    using TerminationHandler = std::function<void(int32_t status, std::string errorOutput)>;
    // When the launch fails the handler is never called.
    virtual LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) = 0;
};

// The desktop's file manager. Failures have no visible effect.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const std::filesystem::path& folder) = 0;
    virtual void activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files) = 0;
};

// Which file a name leads to, how long it is and when it last changed.
struct FileStatus {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    Date modified;
    bool sameFile(const FileStatus& other) const { return device == other.device && inode == other.inode; }
};

struct ResolvedFolder {
    std::filesystem::path path; // absolute, no link in it
    uint64_t device = 0;
    uint64_t inode = 0;
};

// A file kept open between reads.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    virtual std::optional<FileStatus> status() = 0;
    // Up to `count` bytes from `offset`: how many were read (0 at the end),
    // or nothing on an error.
    virtual std::optional<std::size_t> readAt(uint64_t offset, char* into, std::size_t count) = 0;
};

// The few file operations the controller needs. Errors are answered as
// "absent" or false, never thrown.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // A new folder inside `parent` with a fresh random name, readable and
    // writable by this user only; nothing when it cannot be made.
    virtual std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent) = 0;
    // Creates a new, empty file that only this user can read; false when
    // anything, even a link, already has that name.
    virtual bool createEmptyFile(const std::filesystem::path& file) = 0;
    // The SHA-256 of a regular file's content as lower-case hex; nothing
    // when the item is no regular file or cannot be read.
    virtual std::optional<std::string> sha256OfFile(const std::filesystem::path& file) = 0;
    // The folder that `folder` leads to now: its path with every link
    // resolved, and its device and inode; nothing when it is no folder.
    virtual std::optional<ResolvedFolder> resolveFolder(const std::filesystem::path& folder) = 0;
    // The regular file at `file` itself (a link there is not followed), or
    // nothing for anything else.
    virtual std::optional<FileStatus> regularFileStatus(const std::filesystem::path& file) = 0;
    // Opens the regular file at `file` for reading without waiting and
    // without following a link: nothing for a link, a FIFO, a device or a
    // folder, so that no one can stall or flood the reader through it.
    virtual std::unique_ptr<ReadableFile> openRegularFile(const std::filesystem::path& file) = 0;
    // Removes a file, or a folder that is empty.
    virtual bool removeItem(const std::filesystem::path& item) = 0;
    // The immediate entries of a folder, hidden ones included, in the order
    // the file system gives them; nothing when the folder cannot be read.
    virtual std::optional<std::vector<std::filesystem::path>>
    contentsOfDirectory(const std::filesystem::path& folder) = 0;
    // When the entry itself (never a link's target) was last modified; only
    // for a file or folder that belongs to the user running the application,
    // since any other entry may have been planted by someone else.
    virtual std::optional<Date> contentModificationDate(const std::filesystem::path& item) = 0;
};

// Facts about the running process and its user.
class System {
public:
    virtual ~System() = default;
    // The application bundle folder (…/Tarnhollow.app), without a trailing "/".
    virtual std::filesystem::path bundlePath() = 0;
    virtual std::filesystem::path temporaryDirectory() = 0;
    virtual std::filesystem::path homeDirectory() = 0;
    // The program that asks for an administrator password and runs the
    // collector as root.
    virtual std::filesystem::path elevationRunner() = 0;
    // True when the bundle is the copy the system's package manager
    // installed, in a folder the user cannot write; false for a kit.
    virtual bool isInstalledCopy() = 0;
    // The user's desktop folder, where files the user should find go.
    virtual std::filesystem::path desktopDirectory() = 0;
    // How the screens name this computer and its file manager.
    virtual const texts::PlatformWords& words() = 0;
    virtual Date now() = 0;
    virtual uint32_t userID() = 0;
    virtual uint32_t groupID() = 0;
    // 36 characters, upper-case hexadecimal in groups of 8-4-4-4-12.
    virtual std::string newUUIDString() = 0;
};

// Unicode services of the system (ICU on Linux, Foundation on the Mac).
class TextServices {
public:
    virtual ~TextServices() = default;
    // Unicode general category Nd.
    virtual bool isDecimalDigit(char32_t codePoint) = 0;
};

// Everything the controller reaches the system through.
struct Platform {
    Toolkit& toolkit;
    Scheduler& scheduler;
    TaskLauncher& tasks;
    Workspace& workspace;
    FileSystem& files;
    System& system;
    TextServices& text;
};

} // namespace tarnhollow
