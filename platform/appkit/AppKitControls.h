// The control operations on AppKit controls. Each control makes its view;
// the views stay inside the Objective-C++ files, and the window's layout
// reaches them through view().
#pragma once

#include "platform/Controls.h"

#include <memory>

namespace tarnhollow::appkit {

// An NSView*, not retained; only Objective-C++ turns it back into a view.
using ViewHandle = void*;

class AppKitTextField final : public TextField {
public:
    explicit AppKitTextField(bool wrapping);
    ~AppKitTextField() override;
    void setStringValue(const std::string& text) override;
    ViewHandle view() const;

private:
    struct View;
    std::unique_ptr<View> view_;
};

class AppKitProgressIndicator final : public ProgressIndicator {
public:
    AppKitProgressIndicator();
    ~AppKitProgressIndicator() override;
    void setHidden(bool hidden) override;
    void setIndeterminate(bool indeterminate) override;
    bool isIndeterminate() const override;
    void startAnimation() override;
    void stopAnimation() override;
    void setMinValue(double value) override;
    void setMaxValue(double value) override;
    double maxValue() const override;
    void setDoubleValue(double value) override;
    ViewHandle view() const;

private:
    struct View;
    std::unique_ptr<View> view_;
};

class AppKitButton final : public Button {
public:
    AppKitButton();
    ~AppKitButton() override;
    void setTitle(const std::string& title) override;
    void setEnabled(bool enabled) override;
    ViewHandle view() const;

private:
    struct View;
    std::unique_ptr<View> view_;
};

} // namespace tarnhollow::appkit
