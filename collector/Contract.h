// What the application hands the elevation runner and, through it, the
// collector tool.
#pragma once

namespace tarnhollow::contract {
} // namespace tarnhollow::contract
