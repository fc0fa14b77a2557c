// Regular expressions and character classes from Foundation.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class FoundationTextServices final : public TextServices {
public:
    std::unique_ptr<RegularExpression> compile(std::string_view pattern) override;
    bool isDecimalDigit(char32_t codePoint) override;
};

} // namespace tarnhollow::appkit
