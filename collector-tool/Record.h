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

extern const char* const kManifestHeader;
std::string manifestRow(const Record& record);
// The eleven fields of a timeline body line.
std::string bodyLine(const Node& node, const std::string& name);
// The mode as timeline tools print it: "r/rrw-r--r--".
std::string bodyMode(unsigned mode);

extern const char* const kListingHeader;
std::string listingRow(const Node& node);

} // namespace tarnhollow::tool
