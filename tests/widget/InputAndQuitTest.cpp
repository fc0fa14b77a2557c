// The button answers Return and clicks only while enabled; Ctrl+Q and
// closing the window quit in every state, without a question.
#include "tests/widget/WidgetFixture.h"

#include <QTest>
#include <QTimer>

namespace tarnhollow::widgettest {
namespace {

class InputAndQuitTest : public WidgetTest {
protected:
    void activate()
    {
        window()->show();
        window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    }

    // Runs the event loop, does `action` in it: 0 when the application
    // quit, 99 when nothing ended the loop.
    int runAndDo(const std::function<void()>& action)
    {
        QTimer::singleShot(0, qApp, action);
        QTimer::singleShot(20'000, qApp, [] { QCoreApplication::exit(99); });
        return QApplication::exec();
    }
};

TEST_F(InputAndQuitTest, ReturnAndClicksPressTheButtonOnlyWhileItIsEnabled)
{
    show(Screen::failed); // here a press opens the output folder
    activate();
    const auto presses = [this] {
        QTest::keyClick(window(), Qt::Key_Return);
        QTest::keyClick(window(), Qt::Key_Enter);
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        settle();
        return std::count(fake.log.begin(), fake.log.end(), std::string("workspace.openURL: ") + outputFolder);
    };
    EXPECT_EQ(presses(), 3);
    pushButton()->setEnabled(false);
    EXPECT_EQ(presses(), 3);
    pushButton()->setEnabled(true);
    EXPECT_EQ(presses(), 6);
}

TEST_F(InputAndQuitTest, CtrlQAndClosingTheWindowQuitInEveryState)
{
    for (Screen screen : {Screen::ready, Screen::running, Screen::done, Screen::failed}) {
        SCOPED_TRACE(nameOf(screen));
        show(screen);
        const auto state = controller->currentState();
        activate();
        EXPECT_EQ(runAndDo([this] { QTest::keyClick(window(), Qt::Key_Q, Qt::ControlModifier); }), 0);
        EXPECT_EQ(controller->currentState(), state) << "quitting changes nothing of the run";
        window()->show();
        EXPECT_EQ(runAndDo([this] { window()->close(); }), 0);
        EXPECT_FALSE(window()->isVisible());
    }
}

} // namespace
} // namespace tarnhollow::widgettest
