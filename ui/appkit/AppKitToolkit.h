// The application shell on AppKit: the four controls, the menu bar with its
// one quit item, and the main window that lays the controls out.
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace tarnhollow {

class AppDelegate;

namespace appkit {

class AppKitToolkit final : public Toolkit {
public:
    std::unique_ptr<TextField> makeLabel() override;
    std::unique_ptr<TextField> makeWrappingLabel() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
    std::unique_ptr<Button> makeButton() override;
    void setupMenu() override;
    std::unique_ptr<Window> setupWindow(TextField& status, TextField& detail, ProgressIndicator& bar, Button& button,
                                        std::function<void()> pressed) override;
    void activateIgnoringOtherApps() override;
};

// Wires the controller to the application object: the launch callback, and
// whether closing the window quits.
void attachDelegate(const std::shared_ptr<AppDelegate>& delegate);

} // namespace appkit
} // namespace tarnhollow
