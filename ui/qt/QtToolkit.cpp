#include "ui/qt/QtToolkit.h"

#include "collect/AppDelegate.h"
#include "platform/qt/QtControls.h"
#include "ui/WindowLayout.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tarnhollow {

namespace {

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QFont systemFont(int pixels, bool bold)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Holds the detail text. It is as high as the text needs, unless the window
// has reached the height of the screen: then the text scrolls, so that all
// of it stays readable and the button stays in view.
class DetailArea final : public QScrollArea {
public:
    explicit DetailArea(QWidget* text)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollOnlyWhenCapped(false);
        setWidget(text);
        viewport()->setAutoFillBackground(false);
        text->setAutoFillBackground(false);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    // Below the screen's height the area grows with its text, so a scroll bar
    // there could only be a passing one, shown while the area has not grown
    // yet; it would narrow the text and make it need more lines than the
    // area grows by. The bar may appear only once the window can grow no more.
    void scrollOnlyWhenCapped(bool capped)
    {
        setVerticalScrollBarPolicy(capped ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return widget()->heightForWidth(width); }
    QSize sizeHint() const override { return {layout::barWidth, heightForWidth(layout::barWidth)}; }
    QSize minimumSizeHint() const override { return {0, QFontMetrics(widget()->font()).lineSpacing()}; }

protected:
    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            updateGeometry(); // the text changed: the window may have to grow
        return QScrollArea::viewportEvent(event);
    }
};

// The window's content: the controls stacked top to bottom from the top-left
// corner, at the layout's width and at least its height; when a screen's text needs
// more height (a long folder path or failure message wraps onto further
// lines), it grows downwards rather than cut the text off.
class ContentView final : public QWidget {
public:
    ContentView()
    {
        auto* stack = new QVBoxLayout(this);
        stack->setContentsMargins(layout::inset, layout::inset, layout::inset, layout::inset);
        stack->setSpacing(layout::spacing);
        setFixedSize(layout::contentWidth, layout::contentHeight);
    }

    void setDetailArea(DetailArea* area) { detailArea_ = area; }

    void fit()
    {
        const int needed = std::max(layout::contentHeight, layout()->totalHeightForWidth(layout::contentWidth));
        int height = needed;
        // Never taller than the screen leaves room for, frame and menu bar included.
        if (const QScreen* display = screen())
            height = std::min(height, std::max(layout::contentHeight, display->availableGeometry().height() - 100));
        if (detailArea_)
            detailArea_->scrollOnlyWhenCapped(height < needed);
        if (height != this->height())
            setFixedSize(layout::contentWidth, height);
    }

protected:
    bool event(QEvent* event) override
    {
        const bool handled = QWidget::event(event);
        if (event->type() == QEvent::LayoutRequest)
            fit(); // a text or the bar's visibility changed
        return handled;
    }

private:
    QPointer<DetailArea> detailArea_;
};

class QtWindow final : public Window {
public:
    explicit QtWindow(QWidget* window)
        : window_(window)
    {
    }
    ~QtWindow() override { delete window_.data(); }

private:
    QPointer<QWidget> window_;
};

} // namespace

QtToolkit::QtToolkit() = default;
QtToolkit::~QtToolkit() = default;

std::unique_ptr<TextField> QtToolkit::makeLabel() { return std::make_unique<QtLabel>(); }

std::unique_ptr<TextField> QtToolkit::makeWrappingLabel() { return std::make_unique<QtWrappingLabel>(); }

std::unique_ptr<ProgressIndicator> QtToolkit::makeProgressIndicator()
{
    return std::make_unique<QtProgressIndicator>();
}

std::unique_ptr<Button> QtToolkit::makeButton() { return std::make_unique<QtButton>(); }

void QtToolkit::setupMenu()
{
    menuBar_ = std::make_unique<QMenuBar>();
    QMenu* menu = menuBar_->addMenu(fromUtf8(texts::windowTitle));
    QAction* quit = menu->addAction(fromUtf8(texts::quitItem));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    // Quits at once: no question, and a running collection is left running.
    QObject::connect(quit, &QAction::triggered, qApp, [] { QCoreApplication::quit(); });
}

std::unique_ptr<Window> QtToolkit::setupWindow(TextField& status, TextField& detail, ProgressIndicator& bar,
                                               Button& button, std::function<void()> pressed)
{
    auto& headline = dynamic_cast<QtLabel&>(status);
    auto& text = dynamic_cast<QtWrappingLabel&>(detail);
    auto& progress = dynamic_cast<QtProgressIndicator&>(bar);
    auto& push = dynamic_cast<QtButton&>(button);

    headline.setFont(systemFont(layout::headlineFontSize, true), layout::barWidth);
    text.text()->setFont(systemFont(layout::textFontSize, false));
    text.text()->setForegroundRole(QPalette::PlaceholderText); // the secondary text colour
    text.text()->setPreferredMaxLayoutWidth(layout::barWidth);
    progress.setIndeterminate(false);
    progress.setMinValue(0.0);
    push.button()->setFont(systemFont(layout::textFontSize, false));
    QObject::connect(push.button(), &QPushButton::clicked, push.button(), [pressed] { pressed(); });

    headline.label()->setObjectName(QStringLiteral("status"));
    text.text()->setObjectName(QStringLiteral("detail"));
    progress.bar()->setObjectName(QStringLiteral("bar"));
    push.button()->setObjectName(QStringLiteral("button"));

    auto* window =
        new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(fromUtf8(texts::windowTitle));
    auto* frame = new QVBoxLayout(window);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->setSizeConstraint(QLayout::SetFixedSize); // not resizable
    if (menuBar_)
        frame->setMenuBar(menuBar_.release());
    auto* content = new ContentView;
    content->setObjectName(QStringLiteral("content"));
    frame->addWidget(content);

    // Everything starts at the leading edge. The button keeps its own width;
    // the texts and the bar take the full 440.
    auto* stack = static_cast<QVBoxLayout*>(content->layout());
    stack->addWidget(headline.widget());
    stack->addWidget(progress.widget(), 0, Qt::AlignLeading);
    auto* detailArea = new DetailArea(text.widget());
    detailArea->setObjectName(QStringLiteral("detailArea"));
    stack->addWidget(detailArea);
    content->setDetailArea(detailArea);
    stack->addWidget(push.widget(), 0, Qt::AlignLeading);
    stack->addStretch(1); // spare height stays below the button
    progress.bar()->setFixedWidth(layout::barWidth);
    progress.placed(); // a hidden control takes no room in the stack

    // Return presses the button, and only while it is enabled.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window);
        QObject::connect(shortcut, &QShortcut::activated, push.button(), [button = push.button()] {
            if (button->isEnabled())
                button->click();
        });
    }

    content->fit();
    frame->activate();
    if (const QScreen* display = window->screen()) {
        QRect frameRect = window->frameGeometry();
        frameRect.moveCenter(display->availableGeometry().center());
        window->move(frameRect.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
    window_ = window;
    return std::make_unique<QtWindow>(window);
}

void QtToolkit::activateIgnoringOtherApps()
{
    if (!window_)
        return;
    window_->raise();
    window_->activateWindow();
}

void attachDelegate(QApplication& app, const std::shared_ptr<AppDelegate>& delegate)
{
    app.setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    // The launch callback comes once the event loop runs, as on the Mac.
    QTimer::singleShot(0, &app, [weak = std::weak_ptr<AppDelegate>(delegate)] {
        if (auto controller = weak.lock())
            controller->applicationDidFinishLaunching();
    });
}

} // namespace tarnhollow
