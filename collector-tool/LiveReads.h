// What the live commands read as they run. Their metadata is taken before
// they run, so that the manifest shows the access times from before the
// collection, not the moment a command read them.
#pragma once

#include "collector-tool/LiveCommand.h"

#include <string>
#include <vector>

namespace tarnhollow::tool {

// Patterns (as in the item tables) of what command reads: the files its
// name is known to read, and every absolute path among its arguments.
std::vector<std::string> liveReads(const LiveCommand& command);

} // namespace tarnhollow::tool
