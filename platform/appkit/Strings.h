// Text and path conversions between the seam (UTF-8, std::filesystem) and
// Foundation. Objective-C++ only.
#pragma once

#import <Foundation/Foundation.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhollow::appkit {

// Text that is not valid UTF-8 becomes the empty string rather than nil, so
// that it can never end up as a nil argument.
inline NSString* toNSString(std::string_view utf8)
{
    NSString* text = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSUTF8StringEncoding];
    return text != nil ? text : @"";
}

inline std::string toUtf8(NSString* text)
{
    if (text == nil)
        return {};
    const char* bytes = text.UTF8String;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

inline NSURL* fileURL(const std::filesystem::path& path, bool isDirectory)
{
    return [NSURL fileURLWithPath:toNSString(path.native()) isDirectory:isDirectory ? YES : NO];
}

inline std::filesystem::path pathOf(NSURL* url) { return std::filesystem::path(toUtf8(url.path)); }

} // namespace tarnhollow::appkit
