#include "platform/appkit/AppKitControls.h"

#include "platform/appkit/Strings.h"

#import <AppKit/AppKit.h>

namespace tarnhollow::appkit {

struct AppKitTextField::View {
    NSTextField* field;
};

AppKitTextField::AppKitTextField(bool wrapping)
    : view_(new View{wrapping ? [NSTextField wrappingLabelWithString:@""] : [NSTextField labelWithString:@""]})
{
}

AppKitTextField::~AppKitTextField() = default;

void AppKitTextField::setStringValue(const std::string& text) { [view_->field setStringValue:toNSString(text)]; }

ViewHandle AppKitTextField::view() const { return (__bridge ViewHandle)view_->field; }

struct AppKitProgressIndicator::View {
    NSProgressIndicator* bar;
};

AppKitProgressIndicator::AppKitProgressIndicator()
    : view_(new View{[[NSProgressIndicator alloc] init]})
{
}

AppKitProgressIndicator::~AppKitProgressIndicator() = default;

void AppKitProgressIndicator::setHidden(bool hidden) { [view_->bar setHidden:hidden ? YES : NO]; }

void AppKitProgressIndicator::setIndeterminate(bool indeterminate)
{
    [view_->bar setIndeterminate:indeterminate ? YES : NO];
}

bool AppKitProgressIndicator::isIndeterminate() const { return [view_->bar isIndeterminate] == YES; }

void AppKitProgressIndicator::startAnimation() { [view_->bar startAnimation:nil]; }

void AppKitProgressIndicator::stopAnimation() { [view_->bar stopAnimation:nil]; }

void AppKitProgressIndicator::setMinValue(double value) { [view_->bar setMinValue:value]; }

void AppKitProgressIndicator::setMaxValue(double value) { [view_->bar setMaxValue:value]; }

double AppKitProgressIndicator::maxValue() const { return [view_->bar maxValue]; }

void AppKitProgressIndicator::setDoubleValue(double value) { [view_->bar setDoubleValue:value]; }

ViewHandle AppKitProgressIndicator::view() const { return (__bridge ViewHandle)view_->bar; }

struct AppKitButton::View {
    NSButton* button;
};

AppKitButton::AppKitButton()
    : view_(new View{[NSButton buttonWithTitle:@"" target:nil action:nil]})
{
}

AppKitButton::~AppKitButton() = default;

void AppKitButton::setTitle(const std::string& title) { [view_->button setTitle:toNSString(title)]; }

void AppKitButton::setEnabled(bool enabled) { [view_->button setEnabled:enabled ? YES : NO]; }

ViewHandle AppKitButton::view() const { return (__bridge ViewHandle)view_->button; }

} // namespace tarnhollow::appkit
