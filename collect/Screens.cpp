// The ready and failure screens, and what the one button does.
#include "collect/AppDelegate.h"
#include "collect/Texts.h"

namespace tarnhollow {

void AppDelegate::setReady(const std::optional<std::string>& message)
{
    state = State::ready;
    status->setStringValue(message ? *message : std::string(platform.system.words().readyHeadline));
    detail->setStringValue(std::string(texts::readyDetailIntro) + "\n" + std::string(texts::savedTo) +
                           outputDir.string());
    bar->setHidden(true);
    button->setTitle(std::string(texts::startButton));
    button->setEnabled(true);
}

void AppDelegate::fail(const std::string& message)
{
    state = State::failed;
    if (timer)
        timer->invalidate();
    bar->stopAnimation();
    bar->setHidden(true);
    status->setStringValue(std::string(texts::failedHeadline));
    detail->setStringValue(message + "\n" + std::string(texts::logHint) + outputDir.string());
    button->setTitle(std::string(texts::openFolderButton));
    button->setEnabled(true);
}

void AppDelegate::buttonPressed()
{
    switch (state) {
    case State::ready:
        start();
        break;
    case State::running:
        break;
    case State::done:
        // Looked up again on every press: the archive may have moved, or a
        // newer one may have appeared.
        if (auto archive = newestZip())
            platform.workspace.activateFileViewerSelectingURLs({*archive});
        else
            platform.workspace.openURL(outputDir);
        break;
    case State::failed:
        platform.workspace.openURL(outputDir);
        break;
    }
}

} // namespace tarnhollow
