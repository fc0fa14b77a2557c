// The handful of control operations the controller performs at run time.
// Each toolkit (AppKit on the Mac, Qt on Linux) and the recording fake used
// by the tests implement them. Every setter takes effect at once and changes
// nothing but what it sets.
#pragma once

#include <string>

namespace tarnhollow {

class TextField {
public:
    virtual ~TextField() = default;
    // Text is UTF-8; a line feed starts a new line.
    virtual void setStringValue(const std::string& text) = 0;
};

class ProgressIndicator {
public:
    virtual ~ProgressIndicator() = default;
    virtual void setHidden(bool hidden) = 0;
    virtual void setIndeterminate(bool indeterminate) = 0;
    virtual bool isIndeterminate() const = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
    virtual void setMinValue(double value) = 0;
    virtual void setMaxValue(double value) = 0;
    virtual double maxValue() const = 0;
    virtual void setDoubleValue(double value) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// A repeating timer on the main run loop.
class Timer {
public:
    virtual ~Timer() = default;
    // Stops the timer for good; later ticks never come.
    virtual void invalidate() = 0;
};

// The main window. The controller only owns it; what it is made of belongs
// to the toolkit.
class Window {
public:
    virtual ~Window() = default;
};

} // namespace tarnhollow
