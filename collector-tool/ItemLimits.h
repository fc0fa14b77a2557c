// How much one run, one item and one file may cost. The defaults are far
// above what a real system's logs and histories hold; they bound what a
// user can make the run read by filling the folders they can write.
#pragma once

#include "collector-tool/Items.h"
#include "collector-tool/Sources.h"

#include <cstdint>

namespace tarnhollow::tool {

struct ItemLimits {
    std::uint64_t byteBudget; // content bytes the item may archive
    std::uint64_t fileCap;    // per file; 0 is none beyond the budget
    std::uint64_t entryCap;   // paths the item may record
};

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kRunByteBudget = 64 * kGiB;
constexpr std::uint64_t kRunEntryCap = 500000;
// What one account's files may add up to across every folder users can
// write: a user who fills several of them still has one budget.
constexpr std::uint64_t kAccountByteBudget = 4 * kGiB;
// Files that report no size (those of /proc) are read this far at most.
constexpr std::uint64_t kUnknownSizeCap = 64ull << 20;
constexpr std::uint64_t kLiveOutputCap = 64ull << 20;
constexpr WalkLimits kWalkLimits{32, 4096, 8 << 20};

// Whether one of the item's patterns lies in home or temporary folders.
bool reachesUserFolders(const Item& item);
ItemLimits limitsFor(const Item& item);

} // namespace tarnhollow::tool
