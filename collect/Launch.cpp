// Starting a collection run.
#include "collect/AppDelegate.h"
#include "collect/Texts.h"
#include "collector/Contract.h"
#include "text/Utf8.h"

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

    if (!pinnedCollectorSha256) {
        fail(std::string(texts::launchFailed) + std::string(texts::collectorUnreadable));
        return;
    }
    if (!pinnedOutputDir) {
        fail(std::string(texts::launchFailed) + std::string(texts::outputFolderUnavailable));
        return;
    }

    // A folder of this user's own for every run, so that nobody else can
    // place or swap the file that root writes into; the file is new too.
    std::error_code noCurrentFolder;
    const std::filesystem::path temporary =
        std::filesystem::absolute(platform.system.temporaryDirectory(), noCurrentFolder);
    const auto folder = noCurrentFolder ? std::nullopt : platform.files.makePrivateFolder(temporary);
    const std::filesystem::path progress =
        folder ? *folder / ("tarnhollow-" + platform.system.newUUIDString() + ".out") : std::filesystem::path();
    if (!folder || !platform.files.createEmptyFile(progress)) {
        if (folder)
            platform.files.removeItem(*folder);
        fail(std::string(texts::launchFailed) + std::string(texts::progressFileUnavailable));
        return;
    }
    progressURL = progress;

    const contract::FolderPin output{pinnedOutputDir->path, pinnedOutputDir->device, pinnedOutputDir->inode};
    const std::string commandLine = contract::collectorCommandLine(
        {platform.system.userID(), platform.system.groupID(),
         platform.system.bundlePath() / contract::collectorInBundle, *pinnedCollectorSha256, output, progress});

    TaskRequest request{platform.system.elevationRunner(), contract::runnerArguments(commandLine)};

    // Runs on the launcher's thread: it touches no field and no control, and
    // reaches the controller only through the main queue.
    Scheduler& scheduler = platform.scheduler;
    auto onTermination = [self = shared_from_this(), &scheduler](int32_t status, std::string errorOutput) {
        scheduler.postToMainQueue(
            [self, status, text = utf8::decodeOrEmpty(std::move(errorOutput))] { self->finished(status, text); });
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
