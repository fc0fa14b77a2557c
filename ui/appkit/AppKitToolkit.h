// Application, menu, window and controls on AppKit. Objective-C++ only.
#pragma once

#include "platform/Platform.h"

#import <AppKit/AppKit.h>

// What the window's button is wired to: the application's delegate.
@protocol TarnhollowButtonTarget <NSObject>
- (void)buttonPressed;
@end

namespace tarnhollow::appkit {

class AppKitToolkit final : public Toolkit {
public:
    // The button's target; not owned (the application keeps its delegate).
    explicit AppKitToolkit(id<TarnhollowButtonTarget> buttonTarget) : buttonTarget_(buttonTarget) {}

    std::unique_ptr<TextField> makeLabel() override;
    std::unique_ptr<TextField> makeWrappingLabel() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
    std::unique_ptr<Button> makeButton() override;
    void setupMenu() override;
    // On the Mac the button sends `buttonPressed` to the target given at
    // construction, which reaches the same step as `pressed`.
    std::unique_ptr<Window> setupWindow(TextField& status, TextField& detail,
                                        ProgressIndicator& bar, Button& button,
                                        std::function<void()> pressed) override;
    void activateIgnoringOtherApps() override;

private:
    __weak id<TarnhollowButtonTarget> buttonTarget_;
};

} // namespace tarnhollow::appkit
