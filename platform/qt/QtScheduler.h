// Timers and the main queue on the Qt event loop of the main thread.
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace tarnhollow {

class QtScheduler final : public Scheduler {
public:
    // Made on the main thread, after the application object.
    QtScheduler();
    ~QtScheduler() override;

    // Ends the main queue, on the main thread, when the event loop is over:
    // steps still queued are dropped here; steps posted later are kept but
    // never run, as they may hold the last reference to main-thread objects.
    void stop();

    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override;

private:
    struct MainQueue;
    std::shared_ptr<MainQueue> queue_;
};

} // namespace tarnhollow
