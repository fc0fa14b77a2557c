#include "platform/appkit/AppKitScheduler.h"

#import <Foundation/Foundation.h>

namespace tarnhollow::appkit {

namespace {

// The run loop keeps a scheduled timer alive until it is invalidated, so
// dropping this object alone does not stop it.
class AppKitTimer final : public Timer {
public:
    explicit AppKitTimer(NSTimer* timer)
        : timer_(timer)
    {
    }
    void invalidate() override { [timer_ invalidate]; }

private:
    NSTimer* timer_;
};

} // namespace

std::unique_ptr<Timer> AppKitScheduler::scheduleRepeatingTimer(double seconds, std::function<void()> tick)
{
    // The block owns its copy of `tick`; whoever scheduled the timer decides
    // what `tick` may keep alive.
    NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:seconds
                                                     repeats:YES
                                                       block:^(NSTimer* __unused fired) {
                                                         tick();
                                                       }];
    return std::make_unique<AppKitTimer>(timer);
}

void AppKitScheduler::postToMainQueue(std::function<void()> step)
{
    dispatch_async(dispatch_get_main_queue(), ^{
      step();
    });
}

} // namespace tarnhollow::appkit
