#include "platform/qt/QtControls.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace tarnhollow {

namespace {

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename W>
void deleteUnlessGone(QPointer<W>& widget)
{
    // The window deletes its children when it goes first.
    delete widget.data();
}

} // namespace

// ---- WrappingText

WrappingText::WrappingText(QWidget* parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingText::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    updateGeometry();
    update();
}

void WrappingText::setPreferredMaxLayoutWidth(int width)
{
    preferredMaxLayoutWidth_ = width;
    updateGeometry();
}

template <typename LineFn>
int WrappingText::layOut(int width, LineFn&& line) const
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(layoutDirection());
    qreal y = 0;
    // A line feed always starts a new line; an empty paragraph still takes one.
    const QStringList paragraphs = text_.split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, font());
        layout.setTextOption(option);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
            l.setLineWidth(std::max(width, 1));
            l.setPosition(QPointF(0, y));
            y += l.height();
        }
        layout.endLayout();
        line(layout);
    }
    return static_cast<int>(std::ceil(y));
}

int WrappingText::heightForWidth(int width) const
{
    return layOut(width, [](const QTextLayout&) {});
}

int WrappingText::naturalWidth() const
{
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& paragraph : text_.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(paragraph));
    return widest + 1;
}

QSize WrappingText::sizeHint() const
{
    int width = naturalWidth();
    if (preferredMaxLayoutWidth_ > 0)
        width = std::min(width, preferredMaxLayoutWidth_);
    return {width, heightForWidth(width)};
}

QSize WrappingText::minimumSizeHint() const
{
    // Any width will do: the text wraps to fit and grows downwards.
    return {0, heightForWidth(width() > 0 ? width() : sizeHint().width())};
}

void WrappingText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layOut(width(), [&](const QTextLayout& layout) { layout.draw(&painter, QPointF(0, 0)); });
}

void WrappingText::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

// ---- Labels

QtLabel::QtLabel() : label_(new QLabel), font_(label_->font())
{
    // Shown as written: a headline is never markup.
    label_->setTextFormat(Qt::PlainText);
}

QtLabel::~QtLabel() { deleteUnlessGone(label_); }

void QtLabel::setStringValue(const std::string& text)
{
    label_->setText(fromUtf8(text));
    fit();
}

void QtLabel::setFont(const QFont& font, int maxWidth)
{
    font_ = font;
    maxWidth_ = maxWidth;
    fit();
}

void QtLabel::fit()
{
    // At most a pixel less per character: more would show.
    constexpr qreal tightest = -1.0;
    constexpr qreal step = 0.05;
    const QString text = label_->text();
    QFont font = font_;
    if (maxWidth_ > 0) {
        for (qreal spacing = 0; spacing >= tightest; spacing -= step) {
            font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
            if (QFontMetrics(font).horizontalAdvance(text) <= maxWidth_)
                break;
        }
    }
    const bool fits = maxWidth_ <= 0 || QFontMetrics(font).horizontalAdvance(text) <= maxWidth_;
    label_->setFont(fits ? font : font_);
    label_->setWordWrap(!fits);
}

QWidget* QtLabel::widget() const { return label_; }

QtWrappingLabel::QtWrappingLabel() : text_(new WrappingText) {}

QtWrappingLabel::~QtWrappingLabel() { deleteUnlessGone(text_); }

void QtWrappingLabel::setStringValue(const std::string& text) { text_->setText(fromUtf8(text)); }

QWidget* QtWrappingLabel::widget() const { return text_; }

// ---- Progress indicator

QtProgressIndicator::QtProgressIndicator() : bar_(new QProgressBar)
{
    bar_->setTextVisible(false);
    refresh();
}

QtProgressIndicator::~QtProgressIndicator() { deleteUnlessGone(bar_); }

void QtProgressIndicator::setHidden(bool hidden)
{
    hidden_ = hidden;
    if (hidden || bar_->parentWidget())
        bar_->setVisible(!hidden);
}

void QtProgressIndicator::placed()
{
    if (bar_->parentWidget())
        bar_->setVisible(!hidden_);
}

void QtProgressIndicator::setIndeterminate(bool indeterminate)
{
    indeterminate_ = indeterminate;
    refresh();
}

void QtProgressIndicator::startAnimation()
{
    animating_ = true;
    refresh();
}

void QtProgressIndicator::stopAnimation()
{
    animating_ = false;
    refresh();
}

void QtProgressIndicator::setMinValue(double value)
{
    min_ = value;
    refresh();
}

void QtProgressIndicator::setMaxValue(double value)
{
    max_ = value;
    refresh();
}

void QtProgressIndicator::setDoubleValue(double value)
{
    value_ = value;
    refresh();
}

void QtProgressIndicator::refresh()
{
    if (indeterminate_ && animating_) {
        bar_->setRange(0, 0); // the style's busy animation
        return;
    }
    bar_->setRange(0, steps);
    if (indeterminate_) {
        // Busy but standing still: an empty track.
        bar_->setValue(0);
        return;
    }
    const double span = max_ - min_;
    double fraction = span > 0 ? (value_ - min_) / span : 0.0;
    if (!(fraction >= 0)) // below the range, or not a number
        fraction = 0;
    fraction = std::min(fraction, 1.0);
    bar_->setValue(static_cast<int>(std::lround(fraction * steps)));
}

QWidget* QtProgressIndicator::widget() const { return bar_; }

// ---- Button

QtButton::QtButton() : button_(new QPushButton) {}

QtButton::~QtButton() { deleteUnlessGone(button_); }

void QtButton::setTitle(const std::string& title)
{
    // An ampersand is a title's own character here, not a mnemonic marker.
    button_->setText(fromUtf8(title).replace(QLatin1Char('&'), QLatin1String("&&")));
}

void QtButton::setEnabled(bool enabled) { button_->setEnabled(enabled); }

QWidget* QtButton::widget() const { return button_; }

} // namespace tarnhollow
