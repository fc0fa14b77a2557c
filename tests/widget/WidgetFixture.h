// The controller on the real Qt toolkit, with everything else faked: the
// window and its controls are real widgets, drawn off screen.
#pragma once

#include "collect/AppDelegate.h"
#include "collect/Texts.h"
#include "platform/qt/QtControls.h"
#include "tests/support/AppDelegateProbe.h"
#include "tests/support/RecordingPlatform.h"
#include "ui/qt/QtToolkit.h"

#include <QApplication>
#include <QPushButton>

#include <gtest/gtest.h>

namespace tarnhollow::widgettest {

// Hands out the Qt controls and remembers them, so that a test can set a
// screen the way the collection steps do.
class CapturingToolkit final : public Toolkit {
public:
    QtToolkit qt;
    QtLabel* status = nullptr;
    QtWrappingLabel* detail = nullptr;
    QtProgressIndicator* bar = nullptr;
    QtButton* button = nullptr;

    std::unique_ptr<TextField> makeLabel() override { return keep(status, qt.makeLabel()); }
    std::unique_ptr<TextField> makeWrappingLabel() override { return keep(detail, qt.makeWrappingLabel()); }
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override
    {
        return keep(bar, qt.makeProgressIndicator());
    }
    std::unique_ptr<Button> makeButton() override { return keep(button, qt.makeButton()); }
    void setupMenu() override { qt.setupMenu(); }
    std::unique_ptr<Window> setupWindow(TextField& s, TextField& d, ProgressIndicator& b, Button& p,
                                        std::function<void()> pressed) override
    {
        return qt.setupWindow(s, d, b, p, std::move(pressed));
    }
    void activateIgnoringOtherApps() override { qt.activateIgnoringOtherApps(); }

private:
    template <typename Concrete, typename Base>
    static std::unique_ptr<Base> keep(Concrete*& slot, std::unique_ptr<Base> made)
    {
        slot = dynamic_cast<Concrete*>(made.get());
        return made;
    }
};

enum class Screen { ready, running, progress, done, failed };
inline const char* nameOf(Screen screen)
{
    static const char* const names[] = {"ready", "running", "progress", "done", "failed"};
    return names[static_cast<int>(screen)];
}

class WidgetTest : public ::testing::Test {
protected:
    // A realistic worst case: the app on a stick, deep in a case folder.
    static constexpr const char* outputFolder =
        "/media/analyst/TARNHOLLOW-USB/調査案件/2026-12-06 株式会社サンプル 本社サーバー室/収集ツール";

    testing::RecordingPlatform fake;
    CapturingToolkit toolkit;
    Platform platform{toolkit, fake, fake, fake, fake, fake, fake.text()};
    std::shared_ptr<AppDelegate> controller;
    std::unique_ptr<AppDelegateProbe> probe;

    void SetUp() override
    {
        fake.bundle = std::string(outputFolder) + "/Tarnhollow.app";
        controller = AppDelegate::create(platform);
        probe = std::make_unique<AppDelegateProbe>(*controller);
        attachDelegate(*qApp, controller);
        for (int i = 0; i < 100 && !toolkit.qt.window(); ++i)
            QCoreApplication::processEvents();
        ASSERT_NE(toolkit.qt.window(), nullptr) << "the launch callback never came";
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

    QWidget* window() const { return toolkit.qt.window(); }
    QWidget* content() const { return window()->findChild<QWidget*>(QStringLiteral("content")); }
    QPushButton* pushButton() const { return toolkit.button->button(); }
    // The detail text's place in the stack; the text scrolls inside it.
    QWidget* detailArea() const { return content()->findChild<QWidget*>(QStringLiteral("detailArea")); }

    // Each screen as the collection steps leave it, with the longest texts
    // a real run shows.
    void show(Screen screen)
    {
        const std::string folder = outputFolder;
        const std::string zip = folder + "/tarnhollow-Analyst-MacBook-Pro-20261206-093015.zip";
        auto& bar = *toolkit.bar;
        if (screen == Screen::ready)
            probe->setReady(std::nullopt);
        if (screen == Screen::failed)
            probe->fail("tarnhollow: error: cannot write " + zip + ": No space left on device");
        if (screen == Screen::running || screen == Screen::progress || screen == Screen::done) {
            probe->state() = screen == Screen::done ? AppDelegate::State::done : AppDelegate::State::running;
            bar.setHidden(false);
            bar.setIndeterminate(screen == Screen::running);
            screen == Screen::running ? bar.startAnimation() : bar.stopAnimation();
            bar.setMaxValue(1284);
            bar.setDoubleValue(screen == Screen::done ? 1284 : 977);
            toolkit.button->setTitle(std::string(screen == Screen::done ? texts::revealButton : texts::runningButton));
            toolkit.button->setEnabled(screen == Screen::done);
        }
        if (screen == Screen::running) {
            toolkit.status->setStringValue(std::string(texts::askingPassword));
            toolkit.detail->setStringValue(std::string(texts::savedTo) + folder);
        } else if (screen == Screen::progress) {
            toolkit.status->setStringValue(std::string(texts::collectingPrefix) + "977" +
                                           std::string(texts::countSeparator) + "1284");
            toolkit.detail->setStringValue(
                "/private/var/db/diagnostics/Persist/0000000000000a3f.tracev3 (unified logs, persisted)");
        } else if (screen == Screen::done) {
            toolkit.status->setStringValue(std::string(texts::doneHeadline));
            toolkit.detail->setStringValue(std::string(texts::savedTo) + zip);
        }
        settle();
    }
};

} // namespace tarnhollow::widgettest
