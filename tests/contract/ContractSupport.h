// Scratch folders, fake programs and a way to wait for the real launcher.
#pragma once

#include "platform/Platform.h"

#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace tarnhollow::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes an executable /bin/sh script.
void writeScript(const std::filesystem::path& file, const std::string& body);
void writeFile(const std::filesystem::path& file, const std::string& content);
std::string readFile(const std::filesystem::path& file);

// Splits text written by printf '%s\0' ...
std::vector<std::string> splitNul(const std::string& text);

struct TaskEnd {
    int32_t status = -1;
    std::string errorOutput;
    int calls = 0;
};

// Launches through the given launcher and waits for the termination handler.
// The wait is bounded only so that a fault shows as a failure, not a hang.
struct LaunchOutcome {
    LaunchResult launch;
    std::optional<TaskEnd> end; // empty when not launched or never ended
};
LaunchOutcome launchAndWait(TaskLauncher& launcher, const TaskRequest& request);

bool runningAsRoot();

} // namespace tarnhollow::testing
