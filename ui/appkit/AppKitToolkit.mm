#include "ui/appkit/AppKitToolkit.h"

#include "collect/AppDelegate.h"
#include "platform/appkit/AppKitControls.h"
#include "platform/appkit/Strings.h"
#include "ui/WindowLayout.h"

#import <AppKit/AppKit.h>

// The button's target: calls the callback the controller gave the window.
@interface TarnhollowButtonAction : NSObject
- (instancetype)initWithCallback:(std::function<void()>)pressed;
- (void)press:(id)sender;
@end

@implementation TarnhollowButtonAction {
    std::function<void()> _pressed;
}

- (instancetype)initWithCallback:(std::function<void()>)pressed
{
    self = [super init];
    if (self != nil)
        _pressed = std::move(pressed);
    return self;
}

- (void)press:(id)__unused sender
{
    _pressed();
}

@end

// Forwards the application's calls to the controller.
@interface TarnhollowApplicationDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithController:(std::shared_ptr<tarnhollow::AppDelegate>)controller;
@end

@implementation TarnhollowApplicationDelegate {
    std::weak_ptr<tarnhollow::AppDelegate> _controller;
}

- (instancetype)initWithController:(std::shared_ptr<tarnhollow::AppDelegate>)controller
{
    self = [super init];
    if (self != nil)
        _controller = controller;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)__unused notification
{
    if (auto controller = _controller.lock())
        controller->applicationDidFinishLaunching();
}

// Nothing of the window is restored, but the system asks every application
// to accept secure coding for its restorable state.
- (BOOL)applicationSupportsSecureRestorableState:(NSApplication*)__unused application
{
    return YES;
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)__unused sender
{
    auto controller = _controller.lock();
    return controller == nullptr || controller->applicationShouldTerminateAfterLastWindowClosed() ? YES : NO;
}

@end

namespace tarnhollow::appkit {

namespace {

// The application's own reference to its delegate is weak.
TarnhollowApplicationDelegate* applicationDelegate = nil;

// Holds the window and the button's target (the button holds it weakly).
struct AppKitWindow final : Window {
    AppKitWindow(NSWindow* window, TarnhollowButtonAction* action)
        : window(window),
          action(action)
    {
    }
    NSWindow* window;
    TarnhollowButtonAction* action;
};

} // namespace

std::unique_ptr<TextField> AppKitToolkit::makeLabel() { return std::make_unique<AppKitTextField>(false); }

std::unique_ptr<TextField> AppKitToolkit::makeWrappingLabel() { return std::make_unique<AppKitTextField>(true); }

std::unique_ptr<ProgressIndicator> AppKitToolkit::makeProgressIndicator()
{
    return std::make_unique<AppKitProgressIndicator>();
}

std::unique_ptr<Button> AppKitToolkit::makeButton() { return std::make_unique<AppKitButton>(); }

void AppKitToolkit::setupMenu()
{
    NSMenu* appMenu = [[NSMenu alloc] init];
    // No target: terminate: travels up the responder chain to the application.
    [appMenu addItemWithTitle:toNSString(texts::quitItem) action:@selector(terminate:) keyEquivalent:@"q"];
    NSMenuItem* appItem = [[NSMenuItem alloc] init];
    [appItem setSubmenu:appMenu];
    NSMenu* mainMenu = [[NSMenu alloc] init];
    [mainMenu addItem:appItem];
    [[NSApplication sharedApplication] setMainMenu:mainMenu];
}

std::unique_ptr<Window> AppKitToolkit::setupWindow(TextField& statusField, TextField& detailField,
                                                   ProgressIndicator& barIndicator, Button& buttonControl,
                                                   std::function<void()> pressed)
{
    // The controls are the ones this toolkit made.
    NSTextField* status = (__bridge NSTextField*)static_cast<AppKitTextField&>(statusField).view();
    NSTextField* detail = (__bridge NSTextField*)static_cast<AppKitTextField&>(detailField).view();
    NSProgressIndicator* bar =
        (__bridge NSProgressIndicator*)static_cast<AppKitProgressIndicator&>(barIndicator).view();
    NSButton* button = (__bridge NSButton*)static_cast<AppKitButton&>(buttonControl).view();

    [status setFont:[NSFont boldSystemFontOfSize:layout::headlineFontSize]];

    [detail setFont:[NSFont systemFontOfSize:layout::textFontSize]];
    [detail setTextColor:[NSColor secondaryLabelColor]];
    [detail setPreferredMaxLayoutWidth:layout::barWidth];

    [bar setIndeterminate:NO];
    [bar setMinValue:0.0];
    [bar setStyle:NSProgressIndicatorStyleBar];

    TarnhollowButtonAction* action = [[TarnhollowButtonAction alloc] initWithCallback:std::move(pressed)];
    [button setFont:[NSFont systemFontOfSize:layout::textFontSize]];
    [button setBezelStyle:NSBezelStylePush];
    [button setKeyEquivalent:@"\r"];
    [button setTarget:action];
    [button setAction:@selector(press:)];

    NSStackView* stack = [NSStackView stackViewWithViews:@[ status, bar, detail, button ]];
    [stack setOrientation:NSUserInterfaceLayoutOrientationVertical];
    [stack setAlignment:NSLayoutAttributeLeading];
    [stack setSpacing:layout::spacing];
    [stack setEdgeInsets:NSEdgeInsetsMake(layout::inset, layout::inset, layout::inset, layout::inset)];
    [stack setTranslatesAutoresizingMaskIntoConstraints:NO];

    NSWindow* window = [[NSWindow alloc]
        initWithContentRect:NSMakeRect(0.0, 0.0, layout::contentWidth, layout::contentHeight)
                  styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable
                    backing:NSBackingStoreBuffered
                      defer:NO];
    // Closing would otherwise release the window behind the strong reference
    // kept here, and the quit that follows the close would touch freed memory.
    [window setReleasedWhenClosed:NO];
    [window setTitle:toNSString(texts::windowTitle)];
    [window setContentView:[[NSView alloc] init]];
    NSView* content = [window contentView];
    [content addSubview:stack];

    [NSLayoutConstraint activateConstraints:@[
        [stack.leadingAnchor constraintEqualToAnchor:content.leadingAnchor],
        [stack.trailingAnchor constraintEqualToAnchor:content.trailingAnchor],
        [stack.topAnchor constraintEqualToAnchor:content.topAnchor],
        [stack.bottomAnchor constraintEqualToAnchor:content.bottomAnchor],
        [bar.widthAnchor constraintEqualToConstant:layout::barWidth],
    ]];

    [window center];
    [window makeKeyAndOrderFront:nil];
    // Showing the window hands the first responder to its first selectable
    // text, which would then swallow Return; with none, Return reaches the
    // default button.
    [window makeFirstResponder:nil];
    return std::make_unique<AppKitWindow>(window, action);
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

void attachDelegate(const std::shared_ptr<AppDelegate>& delegate)
{
    applicationDelegate = [[TarnhollowApplicationDelegate alloc] initWithController:delegate];
    [[NSApplication sharedApplication] setDelegate:applicationDelegate];
}

} // namespace tarnhollow::appkit
