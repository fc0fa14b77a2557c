// Following the collector's progress file.
#include "collect/AppDelegate.h"
#include "collect/Texts.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tarnhollow {

namespace {

// A count as the collector wrote it: ASCII digits only (a digit of another
// script matches the expression but is no number here). A count too large
// for a double becomes the largest double, so that no infinity reaches the
// bar.
std::optional<double> strictCount(const std::string& digits)
{
    if (digits.empty())
        return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    double value = std::strtod(digits.c_str(), nullptr);
    if (value > std::numeric_limits<double>::max())
        value = std::numeric_limits<double>::max();
    return value;
}

// Toward zero, saturating: counts of 2^63 and more show as the largest
// 64-bit integer instead of overflowing the conversion.
int64_t truncated(double value)
{
    constexpr double twoTo63 = 9223372036854775808.0;
    if (value >= twoTo63)
        return std::numeric_limits<int64_t>::max();
    if (value < -twoTo63)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

} // namespace

void AppDelegate::poll()
{
    if (!progressURL)
        return;
    // Unreadable, not UTF-8 or still empty: the screen stays as it is.
    if (!progressReader.update(platform.files, platform.text, *progressURL))
        return;

    const auto line = progressReader.lastProgress();
    std::optional<double> number, total;
    if (line) {
        number = strictCount(line->number);
        total = strictCount(line->total);
    }
    if (!number || !total) {
        // Only the last match counts; an earlier valid one is not used.
        status->setStringValue(std::string(texts::preparing));
        return;
    }

    if (bar->isIndeterminate()) {
        bar->stopAnimation();
        bar->setIndeterminate(false);
    }
    bar->setMaxValue(*total);
    // The line names the item being collected now: one fewer is finished.
    bar->setDoubleValue(*number - 1);
    status->setStringValue(std::string(texts::collectingPrefix) + std::to_string(truncated(*number)) +
                           std::string(texts::countSeparator) + std::to_string(truncated(*total)));
    detail->setStringValue(line->name);
}

} // namespace tarnhollow
