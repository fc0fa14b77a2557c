// Launches a task with posix_spawn and waits for it on a thread of its own.
#pragma once

#include "platform/Platform.h"

#include <sys/types.h>

namespace tarnhollow {

class PosixTaskLauncher final : public TaskLauncher {
public:
    LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) override;
};

namespace posix {

struct ChildEnd {
    int32_t status = -1; // the exit status, or the signal number that ended it
    std::string output;
};

// Reads `fd` (a pipe the child writes to) while the child runs, so that a
// child writing more than a pipe holds cannot block, and reaps the child.
// End of file is not waited for once the child is gone: a grandchild may
// hold the pipe open for ever. What the pipe holds at that moment is kept.
// Blocks the calling thread; does not close `fd`.
ChildEnd waitDrainingOutput(pid_t pid, int fd);

} // namespace posix
} // namespace tarnhollow
