// The end of a run: success, cancellation or failure.
#include "collect/AppDelegate.h"
#include "collect/LastLine.h"
#include "collect/Texts.h"
#include "collector/Contract.h"

namespace tarnhollow {

void AppDelegate::finished(int32_t terminationStatus, const std::string& errorOutput)
{
    if (timer)
        timer->invalidate();
    timer.reset();

    // Show the file's final state before it goes.
    poll();

    // Kept for the failure message: the collector's last word is usually
    // the reason it stopped.
    std::string lastLine;
    if (progressURL) {
        // Read whole once, as the polls may not have seen a rewrite.
        if (const auto file = platform.files.openRegularFile(*progressURL))
            lastLine = lines::lastNonEmptyLineOf(*file);
        // The file, then the private folder made for it; anything left
        // behind is harmless.
        platform.files.removeItem(*progressURL);
        platform.files.removeItem(progressURL->parent_path());
    }
    progressURL.reset();
    progressReader = ProgressReader();

    if (terminationStatus == 0) {
        state = State::done;
        bar->stopAnimation();
        bar->setIndeterminate(false);
        bar->setDoubleValue(bar->maxValue());
        status->setStringValue(std::string(texts::doneHeadline));
        const auto archive = newestZip();
        detail->setStringValue(std::string(texts::savedTo) + (archive ? *archive : outputDir).string());
        button->setTitle(std::string(platform.system.words().revealButton));
        button->setEnabled(true);
        return;
    }
    if (errorOutput.find(contract::cancelledMarker) != std::string::npos) {
        setReady(std::string(texts::cancelled));
        return;
    }
    fail(lastLine.empty() ? std::string(lines::trimWhitespaceAndNewlines(errorOutput)) : lastLine);
}

} // namespace tarnhollow
