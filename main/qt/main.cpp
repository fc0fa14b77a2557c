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

#include <memory>

using namespace tarnhollow;

// The shared application object, and the controller, kept for the life of
// the process.
std::unique_ptr<QApplication> app;
std::shared_ptr<AppDelegate> delegate;

int main(int argc, char* argv[])
{
    // The application object comes first: the controls need it.
    app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnhollow"));

    {
        QtToolkit toolkit;
        QtScheduler scheduler;
        PosixTaskLauncher tasks;
        QtWorkspace workspace;
        PosixFileSystem files;
        LinuxSystem system;
        IcuTextServices text;
        Platform platform{toolkit, scheduler, tasks, workspace, files, system, text};

        delegate = AppDelegate::create(platform);
        attachDelegate(*app, delegate);
        app->exec();

        // Quitting stops nothing of a collection: a run still in flight
        // holds the controller itself and dies with the process. Otherwise
        // the window goes now, while Qt is still up.
        delegate.reset();
    }
    app.reset();
    return 0;
}
