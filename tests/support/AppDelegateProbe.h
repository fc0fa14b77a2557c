// Lets the tests call the controller's private steps and read its fields.
#pragma once

#include "collect/AppDelegate.h"

namespace tarnhollow {

class AppDelegateProbe {
public:
    explicit AppDelegateProbe(AppDelegate& controller)
        : c_(controller)
    {
    }

    void setReady(const std::optional<std::string>& message) { c_.setReady(message); }
    void fail(const std::string& message) { c_.fail(message); }
    void poll() { c_.poll(); }
    static std::filesystem::path defaultOutputDir(System& system) { return AppDelegate::defaultOutputDir(system); }
    std::optional<std::filesystem::path>& progressURL() { return c_.progressURL; }
    ProgressReader& progressReader() { return c_.progressReader; }

private:
    AppDelegate& c_;
};

} // namespace tarnhollow
