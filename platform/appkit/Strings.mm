#include "platform/appkit/Strings.h"

#import <Foundation/Foundation.h>

namespace tarnhollow::appkit {

id toNSString(std::string_view utf8)
{
    NSString* text = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSUTF8StringEncoding];
    return text != nil ? text : @"";
}

std::string toUtf8(id text)
{
    if (![text isKindOfClass:[NSString class]])
        return {};
    const char* bytes = static_cast<NSString*>(text).UTF8String;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

id fileURL(const std::filesystem::path& path, bool isDirectory)
{
    return [NSURL fileURLWithPath:toNSString(path.native()) isDirectory:isDirectory ? YES : NO];
}

std::filesystem::path pathOf(id url)
{
    if (![url isKindOfClass:[NSURL class]])
        return {};
    return std::filesystem::path(toUtf8(static_cast<NSURL*>(url).path));
}

} // namespace tarnhollow::appkit
