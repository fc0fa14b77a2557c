// Timers and the main queue on the main run loop.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class AppKitScheduler final : public Scheduler {
public:
    std::unique_ptr<Timer> scheduleRepeatingTimer(double seconds, std::function<void()> tick) override;
    void postToMainQueue(std::function<void()> step) override;
};

} // namespace tarnhollow::appkit
