#include "ui/appkit/AppKitToolkit.h"

#include "platform/appkit/AppKitControls.h"

namespace tarnhollow::appkit {

std::unique_ptr<TextField> AppKitToolkit::makeLabel()
{
    return std::make_unique<AppKitTextField>([NSTextField labelWithString:@""]);
}

std::unique_ptr<TextField> AppKitToolkit::makeWrappingLabel()
{
    return std::make_unique<AppKitTextField>([NSTextField wrappingLabelWithString:@""]);
}

std::unique_ptr<ProgressIndicator> AppKitToolkit::makeProgressIndicator()
{
    return std::make_unique<AppKitProgressIndicator>([[NSProgressIndicator alloc] init]);
}

std::unique_ptr<Button> AppKitToolkit::makeButton()
{
    return std::make_unique<AppKitButton>([NSButton buttonWithTitle:@"" target:nil action:nil]);
}

void AppKitToolkit::setupMenu()
{
    NSMenu* appMenu = [[NSMenu alloc] init];
    // No target: terminate: travels up the responder chain to the application.
    [appMenu addItemWithTitle:@"Tarnhollow を終了" action:@selector(terminate:) keyEquivalent:@"q"];
    NSMenuItem* appItem = [[NSMenuItem alloc] init];
    [appItem setSubmenu:appMenu];
    NSMenu* mainMenu = [[NSMenu alloc] init];
    [mainMenu addItem:appItem];
    [[NSApplication sharedApplication] setMainMenu:mainMenu];
}

std::unique_ptr<Window> AppKitToolkit::setupWindow(TextField& statusField, TextField& detailField,
                                                   ProgressIndicator& barIndicator, Button& buttonControl,
                                                   std::function<void()>)
{
    // The controls are the ones this toolkit made.
    NSTextField* status = static_cast<AppKitTextField&>(statusField).view();
    NSTextField* detail = static_cast<AppKitTextField&>(detailField).view();
    NSProgressIndicator* bar = static_cast<AppKitProgressIndicator&>(barIndicator).view();
    NSButton* button = static_cast<AppKitButton&>(buttonControl).view();

    [status setFont:[NSFont boldSystemFontOfSize:14.0]];

    [detail setTextColor:[NSColor secondaryLabelColor]];
    [detail setPreferredMaxLayoutWidth:440.0];

    [bar setIndeterminate:NO];
    [bar setMinValue:0.0];
    [bar setStyle:NSProgressIndicatorStyleBar];

    [button setBezelStyle:NSBezelStylePush];
    [button setKeyEquivalent:@"\r"];
    [button setTarget:buttonTarget_];
    [button setAction:@selector(buttonPressed)];

    NSStackView* stack = [NSStackView stackViewWithViews:@[ status, bar, detail, button ]];
    [stack setOrientation:NSUserInterfaceLayoutOrientationVertical];
    [stack setAlignment:NSLayoutAttributeLeading];
    [stack setSpacing:12.0];
    [stack setEdgeInsets:NSEdgeInsetsMake(20.0, 20.0, 20.0, 20.0)];
    [stack setTranslatesAutoresizingMaskIntoConstraints:NO];

    NSWindow* window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0.0, 0.0, 480.0, 180.0)
                                                   styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable
                                                             | NSWindowStyleMaskMiniaturizable
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    // Closing would otherwise release the window behind the strong reference
    // kept here, and the quit that follows the close would touch freed memory.
    [window setReleasedWhenClosed:NO];
    [window setTitle:@"Tarnhollow"];
    [window setContentView:[[NSView alloc] init]];
    NSView* content = [window contentView];
    [content addSubview:stack];

    [NSLayoutConstraint activateConstraints:@[
        [stack.leadingAnchor constraintEqualToAnchor:content.leadingAnchor],
        [stack.trailingAnchor constraintEqualToAnchor:content.trailingAnchor],
        [stack.topAnchor constraintEqualToAnchor:content.topAnchor],
        [stack.bottomAnchor constraintEqualToAnchor:content.bottomAnchor],
        [bar.widthAnchor constraintEqualToConstant:440.0],
    ]];

    [window center];
    [window makeKeyAndOrderFront:nil];
    return std::make_unique<AppKitWindow>(window);
}

void AppKitToolkit::activateIgnoringOtherApps()
{
    NSApplication* application = [NSApplication sharedApplication];
    if (@available(macOS 14, *)) {
        // Since macOS 14 an application asks to come forward; the system
        // grants it while the user has just launched it.
        [application activate];
    } else {
        [application activateIgnoringOtherApps:YES];
    }
}

} // namespace tarnhollow::appkit
