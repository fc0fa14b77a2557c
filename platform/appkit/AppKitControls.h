// The control operations on real AppKit controls. Objective-C++ only.
#pragma once

#include "platform/Controls.h"

#import <AppKit/AppKit.h>

namespace tarnhollow::appkit {

class AppKitTextField final : public TextField {
public:
    explicit AppKitTextField(NSTextField* field) : field_(field) {}
    void setStringValue(const std::string& text) override;
    NSTextField* view() const { return field_; }

private:
    NSTextField* field_;
};

class AppKitProgressIndicator final : public ProgressIndicator {
public:
    explicit AppKitProgressIndicator(NSProgressIndicator* bar) : bar_(bar) {}
    void setHidden(bool hidden) override;
    void setIndeterminate(bool indeterminate) override;
    bool isIndeterminate() const override;
    void startAnimation() override;
    void stopAnimation() override;
    void setMinValue(double value) override;
    void setMaxValue(double value) override;
    double maxValue() const override;
    void setDoubleValue(double value) override;
    NSProgressIndicator* view() const { return bar_; }

private:
    NSProgressIndicator* bar_;
};

class AppKitButton final : public Button {
public:
    explicit AppKitButton(NSButton* button) : button_(button) {}
    void setTitle(const std::string& title) override;
    void setEnabled(bool enabled) override;
    NSButton* view() const { return button_; }

private:
    NSButton* button_;
};

class AppKitWindow final : public Window {
public:
    explicit AppKitWindow(NSWindow* window) : window_(window) {}
    NSWindow* window() const { return window_; }

private:
    NSWindow* window_;
};

// The run loop keeps a scheduled timer alive until it is invalidated, so
// dropping this object alone does not stop it.
class AppKitTimer final : public Timer {
public:
    explicit AppKitTimer(NSTimer* timer) : timer_(timer) {}
    void invalidate() override;

private:
    NSTimer* timer_;
};

} // namespace tarnhollow::appkit
