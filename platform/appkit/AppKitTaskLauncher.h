// Runs the elevation runner with NSTask. Its error output is drained while
// it runs, so a runner that writes more than a pipe holds cannot stall.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class AppKitTaskLauncher final : public TaskLauncher {
public:
    LaunchResult launch(const TaskRequest& request, TerminationHandler onTermination) override;
};

} // namespace tarnhollow::appkit
