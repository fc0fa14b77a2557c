// A program of the examined system whose output is collected as it runs.
#pragma once

#include <string>
#include <vector>

namespace tarnhollow::tool {

struct LiveCommand {
    std::string name;
    std::vector<std::string> argv; // argv[0] a full path
    int timeoutSeconds = 20;
};

struct LiveResult {
    enum class Outcome { ran, missing, timedOut, failed } outcome;
    int exitStatus = 0;
    std::string note;
};

// Runs argv[0] by its full path (never a PATH search) with an empty
// environment and stdin from /dev/null, stdout and stderr into outFd; kills
// it (its whole process group) at the limit.
LiveResult runLiveCommand(const LiveCommand& command, int outFd);

} // namespace tarnhollow::tool
