// The application's delegate as AppKit sees it: a thin Objective-C object
// that owns the portable controller (tarnhollow::AppDelegate) and the Mac's
// platform services, and forwards the platform's calls to it.
#pragma once

#include "ui/appkit/AppKitToolkit.h"

#import <AppKit/AppKit.h>

@interface AppDelegate : NSObject <NSApplicationDelegate, TarnhollowButtonTarget>
- (instancetype)init NS_DESIGNATED_INITIALIZER;
- (void)buttonPressed;
@end
