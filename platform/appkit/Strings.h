// Text and path conversions between the seam (UTF-8, std::filesystem) and
// Foundation. Foundation's objects cross as `id` (an NSString, an NSURL),
// so that this header stays plain C++ and Objective-C stays in .mm files.
#pragma once

#include <objc/objc.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhollow::appkit {

// An NSString. Text that is not valid UTF-8 becomes the empty string rather
// than nil, so that it can never end up as a nil argument.
id toNSString(std::string_view utf8);

// The UTF-8 of an NSString; empty for nil.
std::string toUtf8(id text);

// A file URL (NSURL) for the path.
id fileURL(const std::filesystem::path& path, bool isDirectory);

// The path of a file URL (NSURL).
std::filesystem::path pathOf(id url);

} // namespace tarnhollow::appkit
