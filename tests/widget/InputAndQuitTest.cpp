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
        window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window()));
    }

    std::size_t folderOpenings()
    {
        std::size_t count = 0;
        for (const auto& entry : fake.log)
            count += entry == std::string("workspace.openURL: ") + outputFolder;
        return count;
    }

    // Runs the event loop, does `action` in it, and reports how the loop
    // ended: 0 when the application quit, 99 when nothing ended it.
    int runAndDo(const std::function<void()>& action)
    {
        QTimer::singleShot(0, qApp, action);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        watchdog.start(20'000);
        return QApplication::exec();
    }
};

TEST_F(InputAndQuitTest, ReturnAndClicksPressTheButtonOnlyWhileItIsEnabled)
{
    show(Screen::failed); // here a press opens the output folder
    activate();
    QTest::keyClick(window(), Qt::Key_Return);
    EXPECT_EQ(folderOpenings(), 1u);
    QTest::keyClick(window(), Qt::Key_Enter);
    EXPECT_EQ(folderOpenings(), 2u);
    QTest::mouseClick(pushButton(), Qt::LeftButton);
    EXPECT_EQ(folderOpenings(), 3u);

    toolkit.button->setEnabled(false);
    QTest::keyClick(window(), Qt::Key_Return);
    QTest::keyClick(window(), Qt::Key_Enter);
    QTest::mouseClick(pushButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(folderOpenings(), 3u);

    toolkit.button->setEnabled(true);
    QTest::keyClick(window(), Qt::Key_Return);
    EXPECT_EQ(folderOpenings(), 4u);
}

TEST_F(InputAndQuitTest, CtrlQQuitsInEveryState)
{
    for (Screen screen : {Screen::ready, Screen::running, Screen::done, Screen::failed}) {
        SCOPED_TRACE(nameOf(screen));
        show(screen);
        const auto state = controller->currentState();
        window()->show();
        activate();
        EXPECT_EQ(runAndDo([this] { QTest::keyClick(window(), Qt::Key_Q, Qt::ControlModifier); }), 0);
        EXPECT_EQ(controller->currentState(), state) << "quitting changes nothing of the run";
    }
}

TEST_F(InputAndQuitTest, ClosingTheWindowQuitsInEveryState)
{
    for (Screen screen : {Screen::ready, Screen::running, Screen::done, Screen::failed}) {
        SCOPED_TRACE(nameOf(screen));
        show(screen);
        window()->show();
        EXPECT_EQ(runAndDo([this] { window()->close(); }), 0);
        EXPECT_FALSE(window()->isVisible());
    }
}

} // namespace
} // namespace tarnhollow::widgettest
