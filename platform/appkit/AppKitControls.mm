#include "platform/appkit/AppKitControls.h"

#include "platform/appkit/Strings.h"

namespace tarnhollow::appkit {

void AppKitTextField::setStringValue(const std::string& text)
{
    [field_ setStringValue:toNSString(text)];
}

void AppKitProgressIndicator::setHidden(bool hidden)
{
    [bar_ setHidden:hidden ? YES : NO];
}

void AppKitProgressIndicator::setIndeterminate(bool indeterminate)
{
    [bar_ setIndeterminate:indeterminate ? YES : NO];
}

bool AppKitProgressIndicator::isIndeterminate() const
{
    return [bar_ isIndeterminate] == YES;
}

void AppKitProgressIndicator::startAnimation()
{
    [bar_ startAnimation:nil];
}

void AppKitProgressIndicator::stopAnimation()
{
    [bar_ stopAnimation:nil];
}

void AppKitProgressIndicator::setMinValue(double value)
{
    [bar_ setMinValue:value];
}

void AppKitProgressIndicator::setMaxValue(double value)
{
    [bar_ setMaxValue:value];
}

double AppKitProgressIndicator::maxValue() const
{
    return [bar_ maxValue];
}

void AppKitProgressIndicator::setDoubleValue(double value)
{
    [bar_ setDoubleValue:value];
}

void AppKitButton::setTitle(const std::string& title)
{
    [button_ setTitle:toNSString(title)];
}

void AppKitButton::setEnabled(bool enabled)
{
    [button_ setEnabled:enabled ? YES : NO];
}

void AppKitTimer::invalidate()
{
    [timer_ invalidate];
}

} // namespace tarnhollow::appkit
