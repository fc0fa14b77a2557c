// The process entry on the Mac: the application object, the one controller,
// and the event loop.
#include "collect/AppDelegate.h"
#include "platform/appkit/AppKitScheduler.h"
#include "platform/appkit/AppKitSystem.h"
#include "platform/appkit/AppKitTaskLauncher.h"
#include "platform/appkit/AppKitWorkspace.h"
#include "platform/appkit/FoundationTextServices.h"
#include "platform/posix/PosixFileSystem.h"
#include "ui/appkit/AppKitToolkit.h"

#import <AppKit/AppKit.h>

#include <memory>

using namespace tarnhollow;

namespace {

// The platform's services, made once and never torn down: a collection
// still running when the user quits reaches them until the process ends.
struct Services {
    appkit::AppKitToolkit toolkit;
    appkit::AppKitScheduler scheduler;
    appkit::AppKitTaskLauncher tasks;
    appkit::AppKitWorkspace workspace;
    PosixFileSystem files;
    appkit::AppKitSystem system;
    appkit::FoundationTextServices text;
    Platform platform{toolkit, scheduler, tasks, workspace, files, system, text};
};

} // namespace

int main()
{
    @autoreleasepool {
        // The application object comes first: the controls need it.
        NSApplication* app = [NSApplication sharedApplication];
        auto* services = new Services;
        static std::shared_ptr<AppDelegate> delegate = AppDelegate::create(services->platform);
        appkit::attachDelegate(delegate);
        [app setActivationPolicy:NSApplicationActivationPolicyRegular];
        [app run];
    }
    return 0;
}
