// The controls' own state. The bar keeps its logical state itself:
// QProgressBar only knows ranges.
#include "platform/qt/QtControls.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnhollow {
namespace {

constexpr int steps = QtProgressIndicator::steps;

bool busy(const QtProgressIndicator& bar) { return bar.bar()->minimum() == 0 && bar.bar()->maximum() == 0; }

TEST(ProgressIndicatorTest, KeepsRangeAndValueAcrossBusySpellsAndShowsValuesOutsideItAsEmptyOrFull)
{
    QtProgressIndicator bar;
    EXPECT_FALSE(bar.isHidden());
    EXPECT_TRUE(bar.isIndeterminate());
    EXPECT_FALSE(busy(bar)) << "not animating yet";
    EXPECT_FALSE(bar.bar()->isTextVisible());
    bar.setHidden(true);
    bar.startAnimation();
    bar.setMaxValue(40);
    EXPECT_EQ(bar.maxValue(), 40.0);
    bar.setIndeterminate(false);
    bar.setDoubleValue(10);
    EXPECT_EQ(bar.bar()->maximum(), steps);
    EXPECT_EQ(bar.bar()->value(), steps / 4);
    EXPECT_TRUE(bar.isHidden());

    bar.setIndeterminate(true);
    bar.startAnimation();
    EXPECT_TRUE(busy(bar));
    EXPECT_EQ(bar.maxValue(), 40.0);
    bar.stopAnimation();
    EXPECT_FALSE(busy(bar)) << "standing still once the animation stops";
    bar.setIndeterminate(false);
    EXPECT_FALSE(bar.isIndeterminate());
    EXPECT_EQ(bar.bar()->value(), steps / 4);
    bar.startAnimation(); // animating a determinate bar changes nothing that shows
    EXPECT_FALSE(busy(bar));
    EXPECT_EQ(bar.bar()->value(), steps / 4);

    // Values outside the range show as empty or full.
    bar.setMaxValue(3);
    for (const auto& [value, shown] :
         std::vector<std::pair<double, int>>{{1, static_cast<int>(std::lround(steps / 3.0))},
                                             {5, steps},
                                             {0, 0},
                                             {-2, 0},
                                             {std::numeric_limits<double>::quiet_NaN(), 0}}) {
        bar.setDoubleValue(value);
        EXPECT_EQ(bar.bar()->value(), shown) << value;
    }
    bar.setMaxValue(0); // an empty range
    bar.setDoubleValue(0);
    EXPECT_EQ(bar.bar()->value(), 0);
    EXPECT_EQ(bar.doubleValue(), 0.0);
}

TEST(ProgressIndicatorTest, ShownBeforeItIsPlacedItOpensNoWindowAndControlsOutliveTheirWindowSafely)
{
    QtProgressIndicator bar;
    bar.setHidden(false);
    EXPECT_FALSE(bar.bar()->isVisible());
    {
        QWidget parent; // already on screen: Qt would show a new child only later
        parent.show();
        (new QVBoxLayout(&parent))->addWidget(bar.widget());
        bar.placed();
        EXPECT_TRUE(bar.bar()->isVisible());
        bar.setHidden(true);
        EXPECT_FALSE(bar.bar()->isVisible());
        bar.setHidden(false);
        EXPECT_TRUE(bar.bar()->isVisible());
    } // the window goes first and takes its children along
    EXPECT_EQ(bar.widget(), nullptr);

    QWidget window; // or the control goes first and leaves the window intact
    auto label = std::make_unique<QtWrappingLabel>();
    label->widget()->setParent(&window);
    label.reset();
    EXPECT_TRUE(window.children().isEmpty());
}

TEST(ControlsTest, LabelsAndButtonsShowTheirTextAsWritten)
{
    QtLabel label;
    label.setStringValue("<b>5 & 6</b>");
    EXPECT_EQ(label.label()->text(), QStringLiteral("<b>5 & 6</b>"));
    EXPECT_EQ(label.label()->textFormat(), Qt::PlainText);
    QtButton button;
    button.setTitle("R&D");
    EXPECT_EQ(button.button()->text(), QStringLiteral("R&&D")) << "no mnemonic";
}

} // namespace
} // namespace tarnhollow
