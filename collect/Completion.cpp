// The end of a run: success, cancellation or failure.
#include "collect/AppDelegate.h"

namespace tarnhollow {

void AppDelegate::finished(int32_t, const std::string&)
{
}

} // namespace tarnhollow
