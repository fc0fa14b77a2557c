#include "platform/posix/PosixTaskLauncher.h"

namespace tarnhollow {

LaunchResult PosixTaskLauncher::launch(const TaskRequest&, TerminationHandler)
{
    return {false, "not implemented yet"};
}

} // namespace tarnhollow
