// The controls of the seam on Qt widgets. Each wrapper creates its widget
// without a parent; the toolkit later places it in the main window. The
// wrapper deletes the widget unless the window already did.
#pragma once

#include "platform/Controls.h"

#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <memory>
#include <vector>

namespace tarnhollow {

// A block of plain text that wraps at word boundaries, and anywhere inside a
// word that is wider than a line (long paths), so that nothing is cut off.
// Its layout is kept between calls: a failure message can be megabytes of
// error output, and layouts ask for heights many times.
class WrappingText : public QWidget {
public:
    explicit WrappingText(QWidget* parent = nullptr);
    ~WrappingText() override;

    void setText(const QString& text);
    QString text() const { return text_; }
    // The width it asks for when nothing else constrains it.
    void setPreferredMaxLayoutWidth(int width);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Paragraph;
    // Lays the paragraphs out at `width` and keeps them for painting.
    const std::vector<Paragraph>& laidOut(int width) const;
    void forget();

    QString text_;
    int preferredMaxLayoutWidth_ = 0;
    mutable std::vector<Paragraph> paragraphs_;
    mutable int laidOutWidth_ = -1;
    mutable int laidOutHeight_ = 0;
    mutable QHash<int, int> heights_; // by width
    mutable int naturalWidth_ = -1;
};

// Gives the toolkit the widget behind a control.
class QtControl {
public:
    virtual ~QtControl() = default;
    virtual QWidget* widget() const = 0;
};

// A single-line label. A text a few pixels too wide for its line is set a
// hair tighter rather than cut off; one that still does not fit wraps.
class QtLabel final : public TextField, public QtControl {
public:
    QtLabel();
    ~QtLabel() override;
    void setStringValue(const std::string& text) override;
    QWidget* widget() const override;
    QLabel* label() const { return label_; }

    void setFont(const QFont& font, int maxWidth);

private:
    void fit();

    QPointer<QLabel> label_;
    QFont font_;
    int maxWidth_ = 0; // none
};

class QtWrappingLabel final : public TextField, public QtControl {
public:
    QtWrappingLabel();
    ~QtWrappingLabel() override;
    void setStringValue(const std::string& text) override;
    QWidget* widget() const override;
    WrappingText* text() const { return text_; }

private:
    QPointer<WrappingText> text_;
};

// QProgressBar has no indeterminate mode of its own (only the busy range
// 0..0) and holds integers, so the bar's logical state lives here and the
// widget only shows it.
class QtProgressIndicator final : public ProgressIndicator, public QtControl {
public:
    QtProgressIndicator();
    ~QtProgressIndicator() override;

    void setHidden(bool hidden) override;
    void setIndeterminate(bool indeterminate) override;
    bool isIndeterminate() const override { return indeterminate_; }
    void startAnimation() override;
    void stopAnimation() override;
    void setMinValue(double value) override;
    void setMaxValue(double value) override;
    double maxValue() const override { return max_; }
    void setDoubleValue(double value) override;

    QWidget* widget() const override;
    QProgressBar* bar() const { return bar_; }
    bool isHidden() const { return hidden_; }
    double minValue() const { return min_; }
    double doubleValue() const { return value_; }
    // Called once the widget has a parent: only then may it be shown, as a
    // parentless widget would open as a window of its own.
    void placed();

    // Steps of the determinate display, so that fractional values show.
    static constexpr int steps = 10000;

private:
    void refresh();

    QPointer<QProgressBar> bar_;
    // A freshly made indicator: indeterminate, range 0 to 100, value 0.
    bool hidden_ = false;
    bool indeterminate_ = true;
    bool animating_ = false;
    double min_ = 0.0;
    double max_ = 100.0;
    double value_ = 0.0;
};

class QtButton final : public Button, public QtControl {
public:
    QtButton();
    ~QtButton() override;
    void setTitle(const std::string& title) override;
    void setEnabled(bool enabled) override;
    QWidget* widget() const override;
    QPushButton* button() const { return button_; }

private:
    QPointer<QPushButton> button_;
};

} // namespace tarnhollow
