// The main window: its shape, the menu, and every screen's layout.
#include "tests/widget/WidgetFixture.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <cstdio>

namespace tarnhollow::widgettest {
namespace {

class WindowTest : public WidgetTest {};

TEST_F(WindowTest, WindowIsTitledFixedInSizeAndHoldsOneQuitMenu)
{
    EXPECT_EQ(window()->windowTitle(), QStringLiteral("Tarnhollow"));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(window()->minimumSize(), window()->maximumSize()) << "the user cannot resize it";
    EXPECT_FALSE(window()->windowFlags() & Qt::WindowMaximizeButtonHint);

    auto* menuBar = window()->findChild<QMenuBar*>();
    ASSERT_NE(menuBar, nullptr);
    ASSERT_EQ(menuBar->actions().size(), 1);
    QMenu* menu = menuBar->actions().front()->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("Tarnhollow"));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), QString::fromUtf8("Tarnhollow を終了"));
    EXPECT_EQ(menu->actions().front()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // The content sits right below the menu bar.
    EXPECT_EQ(content()->geometry().top(), menuBar->geometry().bottom() + 1);
    EXPECT_EQ(content()->width(), 480);
}

TEST_F(WindowTest, ControlsAreStyledAndTheBarStartsDeterminateFromZero)
{
    const QFont headline = toolkit.status->label()->font();
    EXPECT_TRUE(headline.bold());
    EXPECT_EQ(headline.pixelSize(), 14);
    EXPECT_EQ(toolkit.status->label()->textFormat(), Qt::PlainText);
    EXPECT_EQ(toolkit.detail->text()->foregroundRole(), QPalette::PlaceholderText);
    EXPECT_FALSE(toolkit.bar->isIndeterminate());
    EXPECT_EQ(toolkit.bar->minValue(), 0.0);
    EXPECT_EQ(toolkit.bar->maxValue(), 100.0);
    EXPECT_EQ(toolkit.bar->bar()->width(), 440);
}

TEST_F(WindowTest, MarkupAndAmpersandsShowAsWritten)
{
    toolkit.status->setStringValue("<b>5 & 6</b>");
    toolkit.button->setTitle("R&D");
    settle();
    EXPECT_EQ(toolkit.status->label()->text(), QStringLiteral("<b>5 & 6</b>"));
    EXPECT_EQ(pushButton()->text(), QStringLiteral("R&&D")); // shown as "R&D", no mnemonic
}

TEST_F(WindowTest, ScreenReadersReadTheDetailTextLikeALabel)
{
    show(Screen::failed);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(toolkit.detail->widget());
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::StaticText);
    EXPECT_EQ(accessible->text(QAccessible::Name), toolkit.detail->text()->text());
    EXPECT_TRUE(accessible->text(QAccessible::Name).startsWith(QStringLiteral("tarnhollow: error")));
}

// Every screen: 20 from the edges, 12 between neighbours, in the order
// headline, bar, detail, button; the bar 440 wide or out of the way; no
// text cut off. Writes a picture of the four main screens.
TEST_F(WindowTest, EveryScreenIsLaidOutWithNothingCutOff)
{
    for (Screen screen : {Screen::ready, Screen::running, Screen::progress, Screen::done, Screen::failed}) {
        SCOPED_TRACE(nameOf(screen));
        show(screen);

        QWidget* status = toolkit.status->widget();
        QWidget* bar = toolkit.bar->widget();
        QWidget* detail = detailArea();
        QWidget* text = toolkit.detail->widget();
        QWidget* button = pushButton();
        const bool barShown = screen != Screen::ready && screen != Screen::failed;
        EXPECT_EQ(bar->isVisibleTo(content()), barShown);

        std::vector<QWidget*> stack{status};
        if (barShown)
            stack.push_back(bar);
        stack.push_back(detail);
        stack.push_back(button);

        EXPECT_EQ(content()->width(), 480);
        EXPECT_GE(content()->height(), 180);
        EXPECT_EQ(status->y(), 20);
        for (std::size_t i = 0; i < stack.size(); ++i) {
            EXPECT_EQ(stack[i]->x(), 20) << i;
            EXPECT_LE(stack[i]->geometry().right() + 1, 460) << i;
            if (i > 0) {
                EXPECT_EQ(stack[i]->y(), stack[i - 1]->geometry().bottom() + 1 + 12) << i;
            }
        }
        EXPECT_LE(button->geometry().bottom() + 1 + 20, content()->height());
        if (barShown) {
            EXPECT_EQ(bar->width(), 440);
        }
        EXPECT_EQ(detail->width(), 440);
        EXPECT_EQ(text->width(), 440) << "no scroll bar";

        // Nothing cut off: every text has the room it needs.
        QLabel* headline = toolkit.status->label();
        EXPECT_FALSE(headline->wordWrap()) << "the headline fits on one line";
        EXPECT_LE(QFontMetrics(headline->font()).horizontalAdvance(headline->text()), headline->width());
        EXPECT_LE(headline->sizeHint().height(), headline->height());
        EXPECT_LE(text->heightForWidth(text->width()), text->height());
        EXPECT_EQ(text->height(), detail->height()) << "the whole text in view";
        EXPECT_LE(button->sizeHint().width(), button->width());
        EXPECT_LE(button->sizeHint().height(), button->height());

        // The ready screen fits the window as designed; others may grow it.
        if (screen == Screen::ready) {
            EXPECT_EQ(content()->height(), 180);
        }
        std::printf("[ %s ] content height %d, detail %d lines high %d\n", nameOf(screen), content()->height(),
                    text->height() / QFontMetrics(text->font()).lineSpacing(), text->height());

        if (screen != Screen::progress) {
            const QString file = QStringLiteral(TARNHOLLOW_SCREENSHOT_DIR "/screen-%1.png").arg(nameOf(screen));
            EXPECT_TRUE(window()->grab().save(file)) << file.toStdString();
        }
    }
}

TEST_F(WindowTest, LineFeedsStartNewLinesAndLongWordsWrapInsteadOfOverflowing)
{
    WrappingText* text = toolkit.detail->text();
    const int line = QFontMetrics(text->font()).lineSpacing();
    toolkit.detail->setStringValue("one");
    const int single = text->heightForWidth(440);
    toolkit.detail->setStringValue("one\ntwo");
    EXPECT_GT(text->heightForWidth(440), single);
    toolkit.detail->setStringValue("\none");
    EXPECT_GT(text->heightForWidth(440), single) << "an empty first line still takes its room";

    // A path with no spaces, far wider than the window.
    toolkit.detail->setStringValue("/" + std::string(300, 'x'));
    settle();
    EXPECT_GE(text->heightForWidth(440), 3 * line - 3);
    EXPECT_LE(text->heightForWidth(440), text->height());
    EXPECT_EQ(text->width(), 440);
}

TEST_F(WindowTest, AHiddenBarTakesNoRoomAndComesBackInPlace)
{
    show(Screen::ready);
    QWidget* status = toolkit.status->widget();
    QWidget* detail = detailArea();
    EXPECT_EQ(detail->y(), status->geometry().bottom() + 1 + 12);

    toolkit.bar->setHidden(false);
    settle();
    QWidget* bar = toolkit.bar->widget();
    EXPECT_EQ(bar->y(), status->geometry().bottom() + 1 + 12);
    EXPECT_EQ(detail->y(), bar->geometry().bottom() + 1 + 12);

    toolkit.bar->setHidden(true);
    settle();
    EXPECT_EQ(detail->y(), status->geometry().bottom() + 1 + 12);
}

TEST_F(WindowTest, AHugeFailureMessageScrollsOnceTheWindowIsAsHighAsTheScreen)
{
    std::string message;
    for (int i = 0; i < 200; ++i)
        message += "line " + std::to_string(i) + " of the runner's error output\n";
    probe->fail(message);
    settle();
    const QRect screen = window()->screen()->availableGeometry();
    EXPECT_GT(content()->height(), 180);
    EXPECT_LE(window()->height(), screen.height());

    // The button stays in view and the text can be scrolled to its end.
    QWidget* button = pushButton();
    EXPECT_LE(button->geometry().bottom() + 1 + 20, content()->height());
    EXPECT_EQ(button->y(), detailArea()->geometry().bottom() + 1 + 12);
    auto* area = static_cast<QScrollArea*>(detailArea());
    EXPECT_TRUE(area->verticalScrollBar()->isVisible());
    WrappingText* text = toolkit.detail->text();
    EXPECT_LE(text->heightForWidth(text->width()), text->height());
    window()->grab().save(QStringLiteral(TARNHOLLOW_SCREENSHOT_DIR "/screen-failed-long.png"));

    // Back to a short text, the window shrinks to its usual size.
    probe->fail("short");
    settle();
    EXPECT_EQ(content()->height(), 180);
    EXPECT_FALSE(area->verticalScrollBar()->isVisible());
}

} // namespace
} // namespace tarnhollow::widgettest
