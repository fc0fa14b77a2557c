#include "collect/AppDelegate.h"
#include "collector/Contract.h"

namespace tarnhollow {

std::shared_ptr<AppDelegate> AppDelegate::create(Platform& platform)
{
    return std::shared_ptr<AppDelegate>(new AppDelegate(platform));
}

AppDelegate::AppDelegate(Platform& platform)
    : platform(platform),
      status(platform.toolkit.makeLabel()),
      detail(platform.toolkit.makeWrappingLabel()),
      bar(platform.toolkit.makeProgressIndicator()),
      button(platform.toolkit.makeButton()),
      startDate(platform.system.now()),
      outputDir(defaultOutputDir(platform.system)),
      pinnedCollectorSha256(platform.files.sha256OfFile(platform.system.bundlePath() / contract::collectorInBundle)),
      pinnedOutputDir(platform.files.resolveFolder(outputDir))
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    setupMenu();
    setupWindow();
    setReady(std::nullopt);
    platform.toolkit.activateIgnoringOtherApps();
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() const
{
    // Closing the window quits in every state, a running collection included.
    return true;
}

void AppDelegate::setupMenu() { platform.toolkit.setupMenu(); }

void AppDelegate::setupWindow()
{
    window = platform.toolkit.setupWindow(*status, *detail, *bar, *button, [this] { buttonPressed(); });
}

} // namespace tarnhollow
