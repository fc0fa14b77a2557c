#pragma once

#include <chrono>

namespace tarnhollow {

// A point in time with sub-second precision.
using Date = std::chrono::sys_time<std::chrono::nanoseconds>;

} // namespace tarnhollow
