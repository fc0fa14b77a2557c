#include "platform/qt/QtControls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPaintEvent>
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

struct WrappingText::Paragraph {
    std::unique_ptr<QTextLayout> layout;
    qreal top = 0;
    qreal bottom = 0;
};

namespace {

// Screen readers see the detail text as they see a label's.
class WrappingTextAccessible final : public QAccessibleWidget {
public:
    explicit WrappingTextAccessible(WrappingText* text)
        : QAccessibleWidget(text, QAccessible::StaticText)
    {
    }
    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name || kind == QAccessible::Value)
            return static_cast<const WrappingText*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* accessibleWrappingText(const QString&, QObject* object)
{
    if (auto* text = dynamic_cast<WrappingText*>(object))
        return new WrappingTextAccessible(text);
    return nullptr;
}

} // namespace

WrappingText::WrappingText(QWidget* parent)
    : QWidget(parent)
{
    static const bool registered = (QAccessible::installFactory(accessibleWrappingText), true);
    (void)registered;
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

WrappingText::~WrappingText() = default;

void WrappingText::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    forget();
    updateGeometry();
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void WrappingText::setPreferredMaxLayoutWidth(int width)
{
    preferredMaxLayoutWidth_ = width;
    updateGeometry();
}

void WrappingText::forget()
{
    paragraphs_.clear();
    laidOutWidth_ = -1;
    heights_.clear();
    naturalWidth_ = -1;
}

const std::vector<WrappingText::Paragraph>& WrappingText::laidOut(int width) const
{
    width = std::max(width, 1);
    if (width == laidOutWidth_)
        return paragraphs_;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(layoutDirection());
    paragraphs_.clear();
    qreal y = 0;
    // A line feed always starts a new line; an empty paragraph still takes one.
    const QStringList texts = text_.split(QLatin1Char('\n'));
    paragraphs_.reserve(static_cast<std::size_t>(texts.size()));
    for (const QString& text : texts) {
        Paragraph paragraph{std::make_unique<QTextLayout>(text, font()), y, y};
        paragraph.layout->setTextOption(option);
        paragraph.layout->beginLayout();
        for (QTextLine line = paragraph.layout->createLine(); line.isValid(); line = paragraph.layout->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        paragraph.layout->endLayout();
        paragraph.bottom = y;
        paragraphs_.push_back(std::move(paragraph));
    }
    laidOutWidth_ = width;
    laidOutHeight_ = static_cast<int>(std::ceil(y));
    heights_.insert(width, laidOutHeight_);
    return paragraphs_;
}

int WrappingText::heightForWidth(int width) const
{
    width = std::max(width, 1);
    if (auto known = heights_.constFind(width); known != heights_.constEnd())
        return *known;
    laidOut(width);
    return laidOutHeight_;
}

QSize WrappingText::sizeHint() const
{
    if (naturalWidth_ < 0) {
        const QFontMetrics metrics(font());
        naturalWidth_ = 0;
        for (const QString& paragraph : text_.split(QLatin1Char('\n')))
            naturalWidth_ = std::max(naturalWidth_, metrics.horizontalAdvance(paragraph) + 1);
    }
    int width = naturalWidth_;
    if (preferredMaxLayoutWidth_ > 0)
        width = std::min(width, preferredMaxLayoutWidth_);
    return {width, heightForWidth(width)};
}

QSize WrappingText::minimumSizeHint() const
{
    // Any width will do: the text wraps to fit and grows downwards. The
    // height is the one at the width it asks for, never at the width it has
    // now: a scroll bar that narrows it for a moment must not make it ask for
    // more height, which would keep that scroll bar there for good.
    return {0, heightForWidth(sizeHint().width())};
}

void WrappingText::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect exposed = event->rect();
    for (const Paragraph& paragraph : laidOut(width())) {
        if (paragraph.bottom < exposed.top())
            continue;
        if (paragraph.top > exposed.bottom())
            break;
        paragraph.layout->draw(&painter, QPointF(0, 0));
    }
}

void WrappingText::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange) {
        forget();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

// ---- Labels

QtLabel::QtLabel()
    : label_(new QLabel),
      font_(label_->font())
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

QtWrappingLabel::QtWrappingLabel()
    : text_(new WrappingText)
{
}

QtWrappingLabel::~QtWrappingLabel() { deleteUnlessGone(text_); }

void QtWrappingLabel::setStringValue(const std::string& text) { text_->setText(fromUtf8(text)); }

QWidget* QtWrappingLabel::widget() const { return text_; }

// ---- Progress indicator

QtProgressIndicator::QtProgressIndicator()
    : bar_(new QProgressBar)
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

QtButton::QtButton()
    : button_(new QPushButton)
{
}

QtButton::~QtButton() { deleteUnlessGone(button_); }

void QtButton::setTitle(const std::string& title)
{
    // An ampersand is a title's own character here, not a mnemonic marker.
    button_->setText(fromUtf8(title).replace(QLatin1Char('&'), QLatin1String("&&")));
}

void QtButton::setEnabled(bool enabled) { button_->setEnabled(enabled); }

QWidget* QtButton::widget() const { return button_; }

} // namespace tarnhollow
