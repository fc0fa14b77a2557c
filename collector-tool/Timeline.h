// The timeline sink's lines: the 11-field body format that timeline tools
// read.
#pragma once

#include "collector-tool/Sources.h"

#include <string>

namespace tarnhollow::tool {

// One line; name is the path escaped, '|' in it written %7C.
std::string bodyLine(const Node& node, const std::string& name);
// The mode as timeline tools print it: "r/rrw-r--r--".
std::string bodyMode(unsigned mode);

} // namespace tarnhollow::tool
