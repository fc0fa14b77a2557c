// Scratch folders, fake programs and a way to wait for the real launcher.
#pragma once

#include "platform/Platform.h"
#include "tests/support/ScratchFolder.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnhollow::testing {

void writeFile(const std::filesystem::path& file, const std::string& content);
void writeScript(const std::filesystem::path& file, const std::string& body); // an executable /bin/sh script
std::string readFile(const std::filesystem::path& file);
std::vector<std::string> splitNul(const std::string& text); // as written by printf '%s\0' ...

struct TaskEnd {
    int32_t status = -1;
    std::string errorOutput;
    int calls = 0;
};
struct LaunchOutcome {
    LaunchResult launch;
    std::optional<TaskEnd> end; // empty when not launched or never ended
};
// Launches and waits for the termination handler; the wait is bounded only
// so that a fault shows as a failure, not a hang.
LaunchOutcome launchAndWait(TaskLauncher& launcher, const TaskRequest& request);

bool runningAsRoot();

// A local account made for one test and removed afterwards (root only).
struct ThrowawayUser {
    explicit ThrowawayUser(const std::string& role);
    ~ThrowawayUser();
    ThrowawayUser(const ThrowawayUser&) = delete;
    int run(const std::string& command) const;         // a /bin/sh command as this user; its exit status
    void own(const std::filesystem::path& item) const; // chown, not following links

    std::string name;
    uint32_t uid = 0, gid = 0;
};

} // namespace tarnhollow::testing
