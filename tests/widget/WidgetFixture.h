// The controller on the real Qt toolkit, with everything else faked: the
// window and its controls are real widgets, drawn off screen.
#pragma once

#include "collect/AppDelegate.h"
#include "platform/qt/QtControls.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/ScratchFolder.h"
#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>

namespace tarnhollow::widgettest {

enum class Screen { ready, running, progress, done, failed };
inline const char* nameOf(Screen screen)
{
    static const char* const names[] = {"ready", "running", "progress", "done", "failed"};
    return names[static_cast<int>(screen)];
}

class WidgetTest : public ::testing::Test {
protected:
    testing::ScratchFolder scratch;
    // A realistic worst case: the app on a stick, deep in a case folder.
    const std::string outputFolder =
        (scratch / "TARNHOLLOW-USB/調査案件/2026-12-06 株式会社サンプル 本社サーバー室/収集ツール").string();
    testing::RecordingPlatform fake;
    QtToolkit toolkit;
    Platform platform{toolkit, fake, fake, fake, fake, fake, fake.text()};
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;

    void SetUp() override
    {
        std::filesystem::create_directories(outputFolder);
        std::filesystem::create_directory(fake.temporary = scratch / "tmp");
        fake.bundle = outputFolder + "/Tarnhollow.app";
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        attachDelegate(*qApp, controller);
        for (int i = 0; i < 100 && !toolkit.window(); ++i)
            QCoreApplication::processEvents();
        ASSERT_NE(toolkit.window(), nullptr) << "the launch callback never came";
        settle();
    }

    void TearDown() override
    {
        probe.reset();
        controller.reset();
        settle();
    }

    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    QWidget* window() const { return toolkit.window(); }
    template <typename Widget>
    Widget* named(const char* name) const
    {
        return window()->findChild<Widget*>(QString::fromLatin1(name));
    }
    QWidget* content() const { return named<QWidget>("content"); }
    QLabel* headline() const { return named<QLabel>("status"); }
    WrappingText* detail() const { return named<WrappingText>("detail"); }
    QProgressBar* bar() const { return named<QProgressBar>("bar"); }
    QPushButton* pushButton() const { return named<QPushButton>("button"); }
    // The detail text's place in the stack; the text scrolls inside it.
    QWidget* detailArea() const { return named<QWidget>("detailArea"); }

    // Each screen as a run reaches it, with the longest texts a real run shows.
    void show(Screen screen)
    {
        if (screen == Screen::ready || screen == Screen::running)
            probe->setReady(std::nullopt);
        if (screen == Screen::running)
            pushButton()->click();
        if (screen == Screen::progress) {
            const auto folder = *std::filesystem::directory_iterator(fake.temporary);
            std::ofstream(std::filesystem::directory_iterator(folder)->path())
                << "Collecting /private/var/db/diagnostics/Persist/0000000000000a3f.tracev3 (unified logs, persisted) "
                   "(977/1284)\n";
            fake.advance(0.5);
        }
        if (screen == Screen::done) {
            std::ofstream(outputFolder + "/tarnhollow-Analyst-MacBook-Pro-20261206-093015.zip") << "PK";
            fake.endTask(0, "");
            fake.runMainQueue();
        }
        if (screen == Screen::failed)
            probe->fail("tarnhollow: error: cannot write " + outputFolder + "/tarnhollow-20261206.zip: No space left");
        settle();
    }
};

} // namespace tarnhollow::widgettest
