// Scratch folders, fake programs and a way to wait for the real launcher.
#pragma once

#include "platform/Platform.h"
#include "tests/support/ScratchFolder.h"

#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace tarnhollow::testing {

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

// A local account made for one test and removed afterwards (root only).
class ThrowawayUser {
public:
    explicit ThrowawayUser(const std::string& role);
    ~ThrowawayUser();
    ThrowawayUser(const ThrowawayUser&) = delete;
    ThrowawayUser& operator=(const ThrowawayUser&) = delete;
    // Runs a /bin/sh command as this user; its exit status.
    int run(const std::string& command) const;
    void own(const std::filesystem::path& item) const; // chown, not following links

    std::string name;
    uint32_t uid = 0;
    uint32_t gid = 0;
};

} // namespace tarnhollow::testing
