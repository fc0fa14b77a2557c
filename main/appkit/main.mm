// Process entry on the Mac.

#include "main/appkit/AppDelegate.h"

// The application object, and the one delegate: the application's own
// reference to its delegate is weak, so this one keeps it alive.
NSApplication* app = nil;
AppDelegate* delegate = nil;

int main()
{
    @autoreleasepool {
        // The application object must exist before the controls are made.
        app = [NSApplication sharedApplication];
        delegate = [[AppDelegate alloc] init];
        [app setDelegate:delegate];
        [app setActivationPolicy:NSApplicationActivationPolicyRegular];
        [app run];
    }
    return 0;
}
