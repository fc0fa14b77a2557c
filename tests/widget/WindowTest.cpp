// The main window: its shape, the menu, and every screen's layout.
#include "tests/widget/WidgetFixture.h"

#include "collect/Texts.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

namespace tarnhollow::widgettest {
namespace {

class WindowTest : public WidgetTest {
protected:
    // 20 from the edges, 12 between neighbours, in the order headline, bar,
    // detail, button; the bar 440 wide or taking no room; no text cut off: the
    // whole detail in view, or, only when it `scrolls`, beside a scroll bar.
    void expectLaidOut(bool scrolls = false)
    {
        QWidget *bar = this->bar(), *text = detail(), *button = pushButton();
        const bool barShown = bar->isVisibleTo(content());
        std::vector<QWidget*> stack{headline(), bar, detailArea(), button};
        if (!barShown)
            stack.erase(stack.begin() + 1);
        EXPECT_EQ(stack[0]->y(), 20);
        for (std::size_t i = 0; i < stack.size(); ++i) {
            EXPECT_EQ(stack[i]->x(), 20) << i;
            EXPECT_LE(stack[i]->geometry().right() + 1, 460) << i;
            EXPECT_TRUE(i == 0 || stack[i]->y() == stack[i - 1]->geometry().bottom() + 1 + 12) << i;
        }
        EXPECT_LE(button->geometry().bottom() + 1 + 20, content()->height());
        EXPECT_EQ(content()->width(), 480);
        EXPECT_GE(content()->height(), 180);
        EXPECT_TRUE(!barShown || bar->width() == 440);
        EXPECT_EQ(detailArea()->width(), 440);
        EXPECT_EQ(text->width() < 440, scrolls) << "a scroll bar narrows the text";

        QLabel* label = headline();
        EXPECT_FALSE(label->wordWrap()) << "the headline fits on one line";
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
        EXPECT_LE(label->sizeHint().height(), label->height());
        EXPECT_LE(text->heightForWidth(text->width()), text->height());
        EXPECT_TRUE(scrolls || text->height() == detailArea()->height()) << "the whole text in view";
        EXPECT_LE(button->sizeHint().width(), button->width());
        EXPECT_LE(button->sizeHint().height(), button->height());
    }
};

TEST_F(WindowTest, WindowIsTitledFixedInSizeHoldsOneQuitMenuAndStyledControls)
{
    EXPECT_EQ(window()->windowTitle().toStdString(), texts::windowTitle);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(window()->minimumSize(), window()->maximumSize()) << "the user cannot resize it";
    EXPECT_FALSE(window()->windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* menuBar = window()->findChild<QMenuBar*>();
    ASSERT_TRUE(menuBar && menuBar->actions().size() == 1 && menuBar->actions().front()->menu());
    QMenu* menu = menuBar->actions().front()->menu();
    EXPECT_EQ(menu->title().toStdString(), texts::windowTitle);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text().toStdString(), texts::quitItem);
    EXPECT_EQ(menu->actions().front()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(content()->geometry().top(), menuBar->geometry().bottom() + 1) << "right below the menu bar";

    EXPECT_TRUE(headline()->font().bold());
    EXPECT_EQ(headline()->font().pixelSize(), 14);
    EXPECT_EQ(detail()->foregroundRole(), QPalette::PlaceholderText);
}

// Every screen as a run reaches it. Writes a picture of each screen.
TEST_F(WindowTest, EveryScreenIsLaidOutWithNothingCutOff)
{
    for (Screen screen :
         {Screen::ready, Screen::running, Screen::progress, Screen::done, Screen::failed, Screen::ready}) {
        SCOPED_TRACE(nameOf(screen));
        show(screen);
        EXPECT_EQ(bar()->isVisibleTo(content()), screen != Screen::ready && screen != Screen::failed);
        expectLaidOut();
        EXPECT_TRUE(screen != Screen::ready || content()->height() == 180) << "the ready screen fits as designed";
        window()->grab().save(QStringLiteral(TARNHOLLOW_SCREENSHOT_DIR "/screen-%1.png").arg(nameOf(screen)));
    }
}

TEST_F(WindowTest, LineFeedsStartNewLinesAndLongWordsWrapInsteadOfOverflowing)
{
    WrappingText* text = detail();
    text->setText(QStringLiteral("one"));
    const int single = text->heightForWidth(440);
    text->setText(QStringLiteral("one\ntwo"));
    EXPECT_GT(text->heightForWidth(440), single);
    text->setText(QStringLiteral("\none"));
    EXPECT_GT(text->heightForWidth(440), single) << "an empty first line still takes its room";
    text->setText(QStringLiteral("/") + QString(300, u'x')); // no spaces, far wider than the window
    settle();
    EXPECT_GE(text->heightForWidth(440), 3 * QFontMetrics(text->font()).lineSpacing() - 3);
    EXPECT_LE(text->heightForWidth(440), text->height());
    EXPECT_EQ(text->width(), 440);
}

// Failure texts of every length from one word to two hundred, each shown as
// a run shows it, after the ready screen: below the screen's height the
// window grows to hold the whole text, laid out as every screen is (words of
// uneven length move the wrap points about). Only a text higher
// than the screen scrolls, with the button still in view.
TEST_F(WindowTest, FailureTextIsWhollyInViewUntilTheWindowReachesTheScreensHeightThenScrolls)
{
    const int screenHeight = window()->screen()->availableGeometry().height();
    std::string message = "error:";
    for (int words = 1; words <= 200; ++words) {
        SCOPED_TRACE(words);
        message += " " + std::string(1 + words * 7 % 11, static_cast<char>('a' + words % 26));
        probe->setReady(std::nullopt);
        settle();
        probe->fail(message);
        settle();
        if (window()->height() <= screenHeight - 120) // the rest holds the frame and the desktop's panels
            expectLaidOut();
    }
    for (int i = 0; i < 200; ++i)
        message += "\nline " + std::to_string(i) + " of the runner's error output";
    probe->fail(message);
    settle();
    EXPECT_LE(window()->height(), screenHeight);
    expectLaidOut(true);  // the button stays in view, the text scrolls to its end
    probe->fail("short"); // the window shrinks back to its usual size
    settle();
    EXPECT_EQ(content()->height(), 180);
    expectLaidOut();
}

} // namespace
} // namespace tarnhollow::widgettest
