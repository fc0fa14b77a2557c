// The one record of each collected path: what was read (the metadata of
// the opened file, not of the listed name), its name escaped once, and
// what became of it. The manifest row and the timeline line are made from
// it and nothing else.
#pragma once

#include "collector-tool/Sources.h"

#include <cstdint>
#include <string>

namespace tarnhollow::tool {

struct Record {
    Node node;
    std::string name; // node.path escaped
    std::string kind; // "file", "folder", "link", "listing", "command", "cut", ...
    std::uint64_t size = 0;
    std::string sha = "-";
    std::string entry = "-"; // the archive member, or "-"
    std::string note;
};

Record recordOf(const Node& node, std::string kind);

} // namespace tarnhollow::tool
