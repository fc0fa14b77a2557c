// Launches a task with posix_spawn and waits for it on a thread of its own.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow {

class PosixTaskLauncher final : public TaskLauncher {
public:
    LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) override;
};

} // namespace tarnhollow
