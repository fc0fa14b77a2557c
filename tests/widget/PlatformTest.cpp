// The timer, the main queue, the folder opener and the process facts on Linux.
#include "platform/linux/LinuxSystem.h"
#include "platform/qt/QtScheduler.h"
#include "platform/qt/QtWorkspace.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

namespace tarnhollow {
namespace {

// Spins the event loop until `done` holds; false when it never does.
bool spinUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 2000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

TEST(SchedulerTest, StepsPostedFromAnyThreadRunOnTheMainThreadInOrderUntilStopped)
{
    std::vector<int> order;
    std::atomic<bool> offMain{false};
    {
        QtScheduler scheduler;
        std::thread([&] {
            for (int i = 0; i < 3; ++i)
                scheduler.postToMainQueue([&, i] {
                    offMain = offMain || QThread::currentThread() != qApp->thread();
                    order.push_back(i);
                });
        }).join();
        ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
        EXPECT_FALSE(offMain);
    }

    auto queued = std::make_shared<int>(0), late = std::make_shared<int>(0);
    std::weak_ptr<int> queuedWeak = queued, lateWeak = late;
    QtScheduler scheduler;
    scheduler.postToMainQueue([&order, queued] { order.push_back(9); });
    queued.reset();
    scheduler.stop();
    EXPECT_TRUE(queuedWeak.expired()) << "dropped here, on the main thread";
    // A run that ends while the process quits: its step may hold the
    // controller, which must not be destroyed on the posting thread.
    std::thread([&scheduler, step = [&order, late] { order.push_back(9); }]() mutable {
        scheduler.postToMainQueue(std::move(step));
    }).join();
    late.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(order.size(), 3u);
    EXPECT_FALSE(lateWeak.expired());
}

TEST(SchedulerTest, TimerRepeatsUntilInvalidatedAndMayBeDroppedFromItsOwnTick)
{
    QtScheduler scheduler;
    int ticks = 0, selfTicks = 0;
    auto timer = scheduler.scheduleRepeatingTimer(0.005, [&] { ++ticks; });
    ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
    timer->invalidate();
    const int atInvalidate = ticks;
    // The owner clears its timer inside the tick, as the end of a run does.
    std::unique_ptr<Timer> self = scheduler.scheduleRepeatingTimer(0.001, [&] {
        ++selfTicks;
        self->invalidate();
        self.reset();
    });
    ASSERT_TRUE(spinUntil([&] { return self == nullptr; }));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(ticks, atInvalidate);
    EXPECT_EQ(selfTicks, 1);
}

QDBusConnection noBus() { return QDBusConnection(QStringLiteral("not connected")); }

TEST(WorkspaceTest, OpensTheFolderAndShowsAnArchiveByItsFolderWithoutABus)
{
    std::vector<QUrl> opened;
    QtWorkspace workspace({[&](const QUrl& url) { opened.push_back(url); }, noBus});
    const std::string folder = "/media/analyst/USB STICK/調査 #1";
    workspace.openURL(folder);
    workspace.activateFileViewerSelectingURLs({folder + "/tarnhollow 50%.zip"});
    workspace.activateFileViewerSelectingURLs({});
    ASSERT_EQ(opened.size(), 2u);
    for (const QUrl& url : opened) {
        EXPECT_EQ(url.scheme(), QStringLiteral("file"));
        EXPECT_EQ(url.toLocalFile().toStdString(), folder) << "the path survives spaces, # and non-ASCII";
    }
}

TEST(WorkspaceTest, OpensTheFolderWhenNoFileManagerAnswersOnTheBus)
{
    // These tests run on a session bus of their own, where nobody answers.
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    std::vector<QUrl> opened;
    QtWorkspace workspace({[&](const QUrl& url) { opened.push_back(url); }, {}});
    workspace.activateFileViewerSelectingURLs({"/media/stick/case.zip"});
    ASSERT_TRUE(spinUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened.front().toLocalFile(), QStringLiteral("/media/stick"));
}

TEST(LinuxSystemTest, BundleDesktopTemporaryFolderAndIdentifiersAreAsTheSystemNamesThem)
{
    for (const auto& [executable, bundle] : std::vector<std::pair<std::string, std::string>>{
             {"/media/usb/Tarnhollow.app/Contents/MacOS/TarnhollowApp", "/media/usb/Tarnhollow.app"},
             {"/media/usb/Renamed Copy/Contents/MacOS/TarnhollowApp", "/media/usb/Renamed Copy"},
             {"/opt/tarnhollow/bin/TarnhollowApp", "/opt/tarnhollow/bin"},
             {"/opt/Contents/bin/MacOS/TarnhollowApp", "/opt/Contents/bin/MacOS"}})
        EXPECT_EQ(LinuxSystem::bundleOf(executable), bundle);
    for (const auto& [userDirs, desktop] : std::vector<std::pair<std::string, std::string>>{
             {"", "/home/analyst/Desktop"},
             {"# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n",
              "/home/analyst/デスクトップ"},
             {"XDG_DESKTOP_DIR=\"$HOME\"", "/home/analyst"},
             {"XDG_DESKTOP_DIR=\"/srv/desk/\"", "/srv/desk"},
             {"XDG_DESKTOP_DIR=\"relative\"\nXDG_DESKTOP_DIR=$HOME/unquoted", "/home/analyst/Desktop"},
             {"XDG_DESKTOP_DIR=\"$HOME/a\\\"b\"", "/home/analyst/Desktop"}})
        EXPECT_EQ(LinuxSystem::desktopFolderFrom("/home/analyst", userDirs), desktop) << userDirs;
    EXPECT_EQ(LinuxSystem::temporaryDirectoryFrom(nullptr), "/tmp");
    EXPECT_EQ(LinuxSystem::temporaryDirectoryFrom(""), "/tmp");
    EXPECT_EQ(LinuxSystem::temporaryDirectoryFrom("/var/tmp/x/"), "/var/tmp/x");
    EXPECT_EQ(LinuxSystem::temporaryDirectoryFrom("//"), "/");

    // Where the bundle, its runner and the user come from, the whole runs show.
    LinuxSystem system;
    const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(system.newUUIDString(), shape));
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i)
        seen.insert(system.newUUIDString());
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
} // namespace tarnhollow
