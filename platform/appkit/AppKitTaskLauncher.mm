#include "platform/appkit/AppKitTaskLauncher.h"

#include "platform/appkit/Strings.h"
#include "platform/posix/ChildEnd.h"
#include "platform/posix/PipeDrain.h"

#import <Foundation/Foundation.h>

#include <fcntl.h>
#include <sys/ioctl.h>

namespace tarnhollow::appkit {

namespace {

// Arguments must reach the runner byte for byte; a text Foundation cannot
// carry is refused rather than altered.
NSArray<NSString*>* argumentArray(const std::vector<std::string>& arguments)
{
    NSMutableArray<NSString*>* array = [NSMutableArray arrayWithCapacity:arguments.size()];
    for (const auto& argument : arguments) {
        NSString* text = [[NSString alloc] initWithBytes:argument.data()
                                                  length:argument.size()
                                                encoding:NSUTF8StringEncoding];
        if (text == nil)
            return nil;
        [array addObject:text];
    }
    return array;
}

} // namespace

LaunchResult AppKitTaskLauncher::launch(const TaskRequest& request, TerminationHandler onTermination)
{
    NSArray<NSString*>* arguments = argumentArray(request.arguments);
    if (arguments == nil) {
        NSError* error = [NSError errorWithDomain:NSCocoaErrorDomain
                                             code:NSFileReadInapplicableStringEncodingError
                                         userInfo:nil];
        return {false, toUtf8(error.localizedDescription)};
    }

    NSTask* task = [[NSTask alloc] init];
    [task setExecutableURL:fileURL(request.executable, false)];
    [task setArguments:arguments];
    NSPipe* errorPipe = [[NSPipe alloc] init];
    [task setStandardError:errorPipe];
    [task setStandardOutput:[NSFileHandle fileHandleWithNullDevice]];

    // The reading end is drained on a serial queue of this run's own as data
    // arrives; the end of the task is handled on the same queue, so the
    // buffer needs no lock.
    const int fd = errorPipe.fileHandleForReading.fileDescriptor;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    dispatch_queue_t queue = dispatch_queue_create("tarnhollow.task.error-output", DISPATCH_QUEUE_SERIAL);
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<uintptr_t>(fd), 0, queue);
    // The run's error output; touched only on `queue`.
    auto output = std::make_shared<std::string>();
    dispatch_source_set_event_handler(source, ^{
      if (!posix::drainAvailable(fd, *output))
          dispatch_source_cancel(source); // at its end; stop listening
    });
    // The pipe owns the descriptor: keep it open until the source lets go.
    dispatch_source_set_cancel_handler(source, ^{
      (void)errorPipe;
    });
    dispatch_resume(source);

    // Idle sleep would cut a long collection short: the machine stays awake
    // until the runner ends.
    NSProcessInfo* process = [NSProcessInfo processInfo];
    id<NSObject> awake = [process beginActivityWithOptions:NSActivityIdleSystemSleepDisabled
                                                    reason:@"Collecting forensic artifacts"];

    auto handler = std::make_shared<TerminationHandler>(std::move(onTermination));
    [task setTerminationHandler:^(NSTask* ended) {
      [process endActivity:awake];
      const int32_t status = ended.terminationReason == NSTaskTerminationReasonUncaughtSignal
                                 ? posix::statusForSignal(ended.terminationStatus)
                                 : ended.terminationStatus;
      dispatch_async(queue, ^{
        // The runner is gone, so everything it wrote is in the pipe by now.
        // A grandchild that inherited the pipe could hold it open for
        // ever: take what is there and stop rather than wait for its end.
        if (dispatch_source_testcancel(source) == 0) {
            int pending = 0;
            if (ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
                posix::drainAvailable(fd, *output, static_cast<std::size_t>(pending));
            dispatch_source_cancel(source);
        }
        (*handler)(status, std::move(*output));
      });
    }];

    // Besides its error, NSTask raises an exception for what it cannot start
    // at all; either way the run fails instead of waiting for an end that
    // never comes.
    NSError* error = nil;
    std::string failure;
    @try {
        if ([task launchAndReturnError:&error])
            return {true, {}};
        failure = error != nil ? toUtf8(error.localizedDescription) : std::string();
    } @catch (NSException* exception) {
        failure = toUtf8(exception.reason != nil ? exception.reason : exception.name);
    }
    [task setTerminationHandler:nil];
    [process endActivity:awake];
    dispatch_source_cancel(source);
    return {false, failure};
}

} // namespace tarnhollow::appkit
