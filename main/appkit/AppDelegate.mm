#include "main/appkit/AppDelegate.h"

#include "collect/AppDelegate.h"
#include "platform/appkit/AppKitServices.h"
#include "platform/appkit/AppKitTaskLauncher.h"
#include "platform/posix/PosixFileSystem.h"

#include <memory>

namespace {

// Everything the controller reaches the Mac through, alive as long as the
// delegate that owns it.
struct MacPlatform {
    explicit MacPlatform(id<TarnhollowButtonTarget> buttonTarget) : toolkit(buttonTarget) {}

    tarnhollow::appkit::AppKitToolkit toolkit;
    tarnhollow::appkit::AppKitScheduler scheduler;
    tarnhollow::appkit::AppKitTaskLauncher tasks;
    tarnhollow::appkit::AppKitWorkspace workspace;
    tarnhollow::PosixFileSystem files;
    tarnhollow::appkit::AppKitSystem system;
    tarnhollow::appkit::FoundationTextServices text;
    tarnhollow::Platform platform{toolkit, scheduler, tasks, workspace, files, system, text};
};

} // namespace

@implementation AppDelegate {
    // Declared in this order so that the controller goes before the
    // services it uses.
    std::unique_ptr<MacPlatform> _mac;
    std::shared_ptr<tarnhollow::AppDelegate> _controller;
}

- (instancetype)init
{
    self = [super init];
    if (self != nil) {
        // Creating the controller creates its four controls and fixes the
        // output folder.
        _mac = std::make_unique<MacPlatform>(self);
        _controller = tarnhollow::AppDelegate::create(_mac->platform);
    }
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)__unused notification
{
    _controller->applicationDidFinishLaunching();
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)__unused sender
{
    return _controller->applicationShouldTerminateAfterLastWindowClosed() ? YES : NO;
}

- (void)buttonPressed
{
    _controller->buttonPressed();
}

@end
