// The application shell on Qt 6 Widgets: the four controls, the menu bar
// with its one quit item, and the main window that lays the controls out.
#pragma once

#include "platform/Platform.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QApplication;
class QMenuBar;

namespace tarnhollow {

class AppDelegate;

class QtToolkit final : public Toolkit {
public:
    QtToolkit();
    ~QtToolkit() override;

    std::unique_ptr<TextField> makeLabel() override;
    std::unique_ptr<TextField> makeWrappingLabel() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
    std::unique_ptr<Button> makeButton() override;
    void setupMenu() override;
    std::unique_ptr<Window> setupWindow(TextField& status, TextField& detail, ProgressIndicator& bar, Button& button,
                                        std::function<void()> pressed) override;
    void activateIgnoringOtherApps() override;

    // The main window once it is set up.
    QWidget* window() const { return window_; }

private:
    std::unique_ptr<QMenuBar> menuBar_; // until the window takes it
    QPointer<QWidget> window_;
};

// Wires the controller to the application object: the launch callback once
// the event loop runs, and whether closing the window quits.
void attachDelegate(QApplication& app, const std::shared_ptr<AppDelegate>& delegate);

} // namespace tarnhollow
