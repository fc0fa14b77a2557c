#include "platform/appkit/FoundationTextServices.h"

#include "platform/appkit/Strings.h"
#include "platform/appkit/Utf16Offsets.h"

#include <cstdio>
#include <cstdlib>

namespace tarnhollow::appkit {

namespace {

class FoundationRegularExpression final : public RegularExpression {
public:
    explicit FoundationRegularExpression(NSRegularExpression* regex)
        : regex_(regex)
    {
    }

    std::vector<Match> matches(std::string_view utf8) const override
    {
        NSString* text = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSUTF8StringEncoding];
        if (text == nil)
            return {}; // not UTF-8: nothing in it can match
        NSArray<NSTextCheckingResult*>* results = [regex_ matchesInString:text
                                                                  options:0
                                                                    range:NSMakeRange(0, text.length)];

        // Results come left to right and each group lies inside its match, so
        // the offsets are looked up nearly in order.
        Utf16Offsets offsets(utf8);
        std::vector<Match> found;
        found.reserve(results.count);
        for (NSTextCheckingResult* result in results) {
            Match match;
            const NSRange whole = result.range;
            match.begin = offsets.byteOffset(whole.location);
            for (NSUInteger group = 1; group < result.numberOfRanges; ++group) {
                const NSRange range = [result rangeAtIndex:group];
                if (range.location == NSNotFound) {
                    match.groups.emplace_back(); // the group took no part
                    continue;
                }
                const std::size_t begin = offsets.byteOffset(range.location);
                const std::size_t end = offsets.byteOffset(range.location + range.length);
                match.groups.emplace_back(utf8.substr(begin, end - begin));
            }
            match.end = offsets.byteOffset(whole.location + whole.length);
            found.push_back(std::move(match));
        }
        return found;
    }

private:
    NSRegularExpression* regex_;
};

} // namespace

std::unique_ptr<RegularExpression> FoundationTextServices::compile(std::string_view pattern)
{
    NSError* error = nil;
    NSRegularExpression* regex = [[NSRegularExpression alloc] initWithPattern:toNSString(pattern)
                                                                      options:0
                                                                        error:&error];
    if (regex == nil) {
        std::fprintf(stderr, "regular expression does not compile: %s\n", toUtf8(error.localizedDescription).c_str());
        std::abort();
    }
    return std::make_unique<FoundationRegularExpression>(regex);
}

bool FoundationTextServices::isDecimalDigit(char32_t codePoint)
{
    return [[NSCharacterSet decimalDigitCharacterSet] longCharacterIsMember:static_cast<UTF32Char>(codePoint)] == YES;
}

} // namespace tarnhollow::appkit
