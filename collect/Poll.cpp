// Following the collector's progress file.
#include "collect/AppDelegate.h"

namespace tarnhollow {

void AppDelegate::poll()
{
}

} // namespace tarnhollow
