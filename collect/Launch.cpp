// Starting a collection run.
#include "collect/AppDelegate.h"

namespace tarnhollow {

void AppDelegate::start()
{
}

} // namespace tarnhollow
