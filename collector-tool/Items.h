// What the tool collects, one table per system. Both tables are built
// everywhere, so that either can be run against a copied tree.
#pragma once

#include "collector-tool/LiveCommand.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
    // Programs whose output is collected before any file is read.
    std::vector<LiveCommand> commands{};
    // Limits for this item; 0 takes the defaults of ItemLimits.h, which
    // are stricter for items that reach into folders users can write.
    std::uint64_t byteBudget = 0;
    std::uint64_t fileCap = 0;
    std::uint64_t entryCap = 0;
};

// An item made only of programs to run.
Item liveItem(std::string name, std::vector<LiveCommand> commands);

enum class ItemSystem { linuxSystem, macosSystem };

// The system the tool runs on.
ItemSystem runningSystem();
// "linux" or "macos".
std::optional<ItemSystem> systemNamed(std::string_view name);
const char* systemName(ItemSystem system);

const std::vector<Item>& linuxItems();
const std::vector<Item>& macosItems();
const std::vector<Item>& collectionItems(ItemSystem system = runningSystem());

} // namespace tarnhollow::tool
