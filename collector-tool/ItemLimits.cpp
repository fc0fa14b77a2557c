#include "collector-tool/ItemLimits.h"

#include <algorithm>
#include <string_view>

namespace tarnhollow::tool {

bool reachesUserFolders(const Item& item)
{
    static constexpr std::string_view prefixes[] = {"/home/",
                                                    "/Users/",
                                                    "/tmp",
                                                    "/var/tmp",
                                                    "/dev/shm",
                                                    "/private/tmp",
                                                    "/private/var/tmp",
                                                    "/private/var/folders"};
    return std::any_of(item.patterns.begin(), item.patterns.end(), [](const std::string& pattern) {
        return std::any_of(std::begin(prefixes), std::end(prefixes),
                           [&](std::string_view prefix) { return pattern.starts_with(prefix); });
    });
}

ItemLimits limitsFor(const Item& item)
{
    ItemLimits limits =
        reachesUserFolders(item) ? ItemLimits{4 * kGiB, 1 * kGiB, 50000} : ItemLimits{32 * kGiB, 0, 200000};
    if (item.byteBudget != 0)
        limits.byteBudget = item.byteBudget;
    if (item.fileCap != 0)
        limits.fileCap = item.fileCap;
    if (item.entryCap != 0)
        limits.entryCap = item.entryCap;
    return limits;
}

} // namespace tarnhollow::tool
