// What the tool collects on the system it was built for.
#pragma once

#include <string>
#include <vector>

namespace tarnhollow::tool {

// One artifact item. Patterns are absolute paths; a component may be a
// shell wildcard ("*.log", "[0-9]*") or a list of alternatives
// ("{cmdline,comm}"). A matched folder is taken with everything below it.
struct Item {
    std::string name;
    std::vector<std::string> patterns;
    // Only names and metadata are recorded, as a listing; no content is read.
    bool listingOnly = false;
    // For listings: how many folder levels below each pattern; 0 is all.
    int listingDepth = 0;
};

const std::vector<Item>& collectionItems();

} // namespace tarnhollow::tool
