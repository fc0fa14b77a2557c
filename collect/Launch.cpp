// Starting a collection run.
#include "collect/AppDelegate.h"
#include "collect/Texts.h"
#include "collect/Utf8.h"
#include "collector/Contract.h"

namespace tarnhollow {

void AppDelegate::start()
{
    state = State::running;
    startDate = platform.system.now();

    status->setStringValue(std::string(texts::askingPassword));
    detail->setStringValue(std::string(texts::savedTo) + outputDir.string());
    bar->setHidden(false);
    bar->setIndeterminate(true);
    bar->startAnimation();
    button->setTitle(std::string(texts::runningButton));
    button->setEnabled(false);

    // A new name for every run, so that two runs never share a file.
    const std::filesystem::path progress =
        platform.system.temporaryDirectory() / ("tarnhollow-" + platform.system.newUUIDString() + ".out");
    // Not being able to create it is no reason to stop: the shell's
    // redirection creates it as well.
    platform.files.createEmptyFile(progress);
    progressURL = progress;

    const std::filesystem::path collector = platform.system.bundlePath() / contract::collectorInBundle;
    const std::string commandLine = contract::collectorCommandLine(
        platform.system.userID(), platform.system.groupID(), collector, outputDir, progress);

    TaskRequest request{platform.system.elevationRunner(), contract::runnerArguments(commandLine)};

    // Runs on the launcher's thread: it touches no field and no control, and
    // reaches the controller only through the main queue.
    Scheduler& scheduler = platform.scheduler;
    auto onTermination = [self = shared_from_this(), &scheduler](int32_t status, std::string errorOutput) {
        scheduler.postToMainQueue([self, status, text = utf8::decodeOrEmpty(std::move(errorOutput))] {
            self->finished(status, text);
        });
    };

    const LaunchResult launched = platform.tasks.launch(request, std::move(onTermination));
    if (!launched.launched) {
        // The empty progress file stays; no poll ever runs for this run.
        fail(std::string(texts::launchFailed) + launched.errorDescription);
        return;
    }

    // Weak: the timer must never keep the controller alive.
    timer = platform.scheduler.scheduleRepeatingTimer(0.5, [weak = weak_from_this()] {
        if (auto controller = weak.lock())
            controller->poll();
    });
}

} // namespace tarnhollow
