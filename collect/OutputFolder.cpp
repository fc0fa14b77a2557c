// Where the archive goes, and which archive a run produced.
#include "collect/AppDelegate.h"

namespace tarnhollow {

std::filesystem::path AppDelegate::defaultOutputDir(System& system)
{
    const std::filesystem::path bundle = system.bundlePath();
    // A downloaded app that was never moved runs from a read-only, randomised
    // copy; the archive would be lost there, so it goes to the Desktop.
    if (bundle.string().find("/AppTranslocation/") != std::string::npos)
        return system.homeDirectory() / "Desktop";
    // The copy the package manager installed lies in a folder the user
    // cannot write; the archive goes where the user finds it.
    if (system.isInstalledCopy())
        return system.desktopDirectory();
    return bundle.parent_path();
}

std::optional<std::filesystem::path> AppDelegate::newestZip()
{
    auto entries = platform.files.contentsOfDirectory(outputDir);
    if (!entries)
        return std::nullopt;

    std::optional<std::filesystem::path> best;
    Date bestTime;
    for (const auto& entry : *entries) {
        if (entry.extension() != ".zip") // letter case counts
            continue;
        auto modified = platform.files.contentModificationDate(entry);
        if (!modified || *modified < startDate)
            continue;
        // The latest wins; among equals the first listed stays.
        if (!best || bestTime < *modified) {
            best = entry;
            bestTime = *modified;
        }
    }
    return best;
}

} // namespace tarnhollow
