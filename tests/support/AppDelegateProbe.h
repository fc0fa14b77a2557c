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
    void start() { c_.start(); }
    void poll() { c_.poll(); }
    void finished(int32_t status, const std::string& errorOutput) { c_.finished(status, errorOutput); }
    std::optional<std::filesystem::path> newestZip() { return c_.newestZip(); }
    static std::filesystem::path defaultOutputDir(System& system) { return AppDelegate::defaultOutputDir(system); }

    AppDelegate::State& state() { return c_.state; }
    Date& startDate() { return c_.startDate; }
    std::optional<std::filesystem::path>& progressURL() { return c_.progressURL; }
    const std::filesystem::path& outputDir() { return c_.outputDir; }
    ProgressReader& progressReader() { return c_.progressReader; }
    bool hasTimer() const { return c_.timer != nullptr; }
    bool hasWindow() const { return c_.window != nullptr; }

private:
    AppDelegate& c_;
};

} // namespace tarnhollow
