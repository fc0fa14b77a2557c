// Unicode services from ICU, the engine behind the Mac's own regular
// expressions, so that Linux matches exactly as the Mac does.
#pragma once

#include "platform/Platform.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhollow {

// A compiled regular expression: the engine's own search, which the tests
// and the benchmarks hold the progress reader's answers against.
class RegularExpression {
public:
    virtual ~RegularExpression() = default;
    struct Match {
        std::size_t begin = 0; // byte offsets of the whole match in the text
        std::size_t end = 0;
        std::vector<std::string> groups; // capture groups 1...n, UTF-8
    };
    // Every non-overlapping match in `utf8`, left to right.
    virtual std::vector<Match> matches(std::string_view utf8) const = 0;
};

class IcuTextServices final : public TextServices {
public:
    // Compiles with no options; a pattern that does not compile is a
    // programming error and ends the process.
    std::unique_ptr<RegularExpression> compile(std::string_view pattern);
    bool isDecimalDigit(char32_t codePoint) override;
};

} // namespace tarnhollow
