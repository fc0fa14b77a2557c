#include "platform/appkit/AppKitWorkspace.h"

#include "platform/appkit/Strings.h"

#import <AppKit/AppKit.h>

namespace tarnhollow::appkit {

void AppKitWorkspace::openURL(const std::filesystem::path& folder)
{
    // Whether Finder could open it is not the user's business here.
    [[NSWorkspace sharedWorkspace] openURL:fileURL(folder, true)];
}

void AppKitWorkspace::activateFileViewerSelectingURLs(const std::vector<std::filesystem::path>& files)
{
    NSMutableArray<NSURL*>* urls = [NSMutableArray arrayWithCapacity:files.size()];
    for (const auto& file : files)
        [urls addObject:fileURL(file, false)];
    [[NSWorkspace sharedWorkspace] activateFileViewerSelectingURLs:urls];
}

} // namespace tarnhollow::appkit
