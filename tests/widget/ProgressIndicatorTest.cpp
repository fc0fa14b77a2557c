// The bar keeps its logical state itself: QProgressBar only knows ranges.
#include "platform/qt/QtControls.h"

#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnhollow {
namespace {

constexpr int steps = QtProgressIndicator::steps;

bool busy(const QtProgressIndicator& bar) { return bar.bar()->minimum() == 0 && bar.bar()->maximum() == 0; }

TEST(ProgressIndicatorTest, StartsIndeterminateFromZeroToHundredWithoutText)
{
    QtProgressIndicator bar;
    EXPECT_TRUE(bar.isIndeterminate());
    EXPECT_EQ(bar.maxValue(), 100.0);
    EXPECT_FALSE(busy(bar)) << "not animating yet";
    EXPECT_FALSE(bar.bar()->isTextVisible());
}

TEST(ProgressIndicatorTest, ReportsWhatWasSetAlsoWhileIndeterminateOrHidden)
{
    QtProgressIndicator bar;
    bar.setHidden(true);
    bar.setIndeterminate(true);
    bar.startAnimation();
    bar.setMaxValue(7);
    EXPECT_TRUE(bar.isIndeterminate());
    EXPECT_EQ(bar.maxValue(), 7.0);
    bar.setIndeterminate(false);
    EXPECT_FALSE(bar.isIndeterminate());
    EXPECT_EQ(bar.maxValue(), 7.0);
    EXPECT_TRUE(bar.isHidden());
}

TEST(ProgressIndicatorTest, DeterminateBarKeepsItsRangeAndValueAcrossBusySpells)
{
    QtProgressIndicator bar;
    bar.setIndeterminate(false);
    bar.setMaxValue(40);
    bar.setDoubleValue(10);
    EXPECT_EQ(bar.bar()->maximum(), steps);
    EXPECT_EQ(bar.bar()->value(), steps / 4);

    bar.setIndeterminate(true);
    bar.startAnimation();
    EXPECT_TRUE(busy(bar));
    EXPECT_EQ(bar.maxValue(), 40.0);

    bar.stopAnimation();
    EXPECT_FALSE(busy(bar)) << "standing still once the animation stops";

    bar.setIndeterminate(false);
    EXPECT_EQ(bar.maxValue(), 40.0);
    EXPECT_EQ(bar.bar()->value(), steps / 4);

    // Animating a determinate bar changes nothing that shows.
    bar.startAnimation();
    EXPECT_FALSE(busy(bar));
    EXPECT_EQ(bar.bar()->value(), steps / 4);
}

TEST(ProgressIndicatorTest, ValuesOutsideTheRangeShowAsEmptyOrFull)
{
    QtProgressIndicator bar;
    bar.setIndeterminate(false);
    bar.setMaxValue(3);
    bar.setDoubleValue(1);
    EXPECT_EQ(bar.bar()->value(), static_cast<int>(std::lround(steps / 3.0)));
    bar.setDoubleValue(5);
    EXPECT_EQ(bar.bar()->value(), steps);
    bar.setDoubleValue(-2);
    EXPECT_EQ(bar.bar()->value(), 0);
    bar.setDoubleValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(bar.bar()->value(), 0);
    bar.setMaxValue(0); // an empty range
    bar.setDoubleValue(0);
    EXPECT_EQ(bar.bar()->value(), 0);
    EXPECT_EQ(bar.doubleValue(), 0.0);
}

TEST(ProgressIndicatorTest, ShowingABarBeforeItIsPlacedOpensNoWindowOfItsOwn)
{
    QtProgressIndicator bar;
    bar.setHidden(false);
    EXPECT_FALSE(bar.bar()->isVisible());

    QWidget parent;
    auto* layout = new QVBoxLayout(&parent);
    layout->addWidget(bar.widget());
    bar.placed();
    parent.show();
    EXPECT_TRUE(bar.bar()->isVisible());
    bar.setHidden(true);
    EXPECT_FALSE(bar.bar()->isVisible());
    bar.setHidden(false);
    EXPECT_TRUE(bar.bar()->isVisible());
}

TEST(ProgressIndicatorTest, ControlsOutliveOrPrecedeTheirWindowSafely)
{
    // The window may go first and take its children along.
    auto bar = std::make_unique<QtProgressIndicator>();
    auto parent = std::make_unique<QWidget>();
    bar->widget()->setParent(parent.get());
    parent.reset();
    EXPECT_EQ(bar->widget(), nullptr);
    bar.reset();

    // Or the control goes first and leaves the window intact.
    QWidget window;
    auto label = std::make_unique<QtWrappingLabel>();
    label->widget()->setParent(&window);
    label.reset();
    EXPECT_TRUE(window.children().isEmpty());
}

} // namespace
} // namespace tarnhollow
