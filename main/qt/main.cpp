// The process entry on Linux: the application object, the one controller,
// and the event loop.
#include "collect/AppDelegate.h"
#include "platform/icu/IcuTextServices.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixTaskLauncher.h"
#include "platform/qt/QtScheduler.h"
#include "platform/qt/QtWorkspace.h"
#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QIcon>

#include <memory>

using namespace tarnhollow;

// The shared application object, and the controller, kept for the life of
// the process.
QApplication* app = nullptr;
std::shared_ptr<AppDelegate> delegate;

namespace {

// The platform's services, made once. They are never torn down: a collection
// still running when the user quits reaches them from its own thread until
// the process ends.
struct Services {
    QtToolkit toolkit;
    QtScheduler scheduler;
    PosixTaskLauncher tasks;
    QtWorkspace workspace;
    PosixFileSystem files;
    LinuxSystem system;
    IcuTextServices text;
    Platform platform{toolkit, scheduler, tasks, workspace, files, system, text};
};
Services* services = nullptr;

} // namespace

int main(int argc, char* argv[])
{
    // The application object comes first: the controls need it.
    app = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnhollow"));

    services = new Services;
    QApplication::setWindowIcon(
        QIcon(QString::fromStdString(services->system.bundlePath() / "Contents/Resources/tarnhollow.png")));
    delegate = AppDelegate::create(services->platform);
    attachDelegate(*app, delegate);
    app->exec();

    // Quitting stops nothing of a collection. Without a run in flight the
    // window goes now, while Qt is still up; a run in flight holds the
    // controller itself, and both stay until the process ends.
    services->scheduler.stop();
    const bool runInFlight = delegate.use_count() > 1;
    delegate.reset();
    if (!runInFlight) {
        delete app;
        app = nullptr;
    }
    return 0;
}
