// Timers and the main queue on the Qt event loop of the main thread.
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace tarnhollow {

class QtScheduler final : public Scheduler {
public:
    // Made on the main thread, after the application object.
    QtScheduler();
    // Steps still queued are dropped; later posts are kept but never run.
    ~QtScheduler() override;

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override;

private:
    struct MainQueue;
    std::shared_ptr<MainQueue> queue_;
};

} // namespace tarnhollow
