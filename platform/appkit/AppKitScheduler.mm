#include "platform/appkit/AppKitServices.h"

#include "platform/appkit/AppKitControls.h"

namespace tarnhollow::appkit {

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
