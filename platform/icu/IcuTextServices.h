// Unicode services from ICU, the engine behind the Mac's own regular
// expressions, so that Linux matches exactly as the Mac does.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow {

class IcuTextServices final : public TextServices {
public:
    std::unique_ptr<RegularExpression> compile(std::string_view pattern) override;
    bool isDecimalDigit(char32_t codePoint) override;
};

} // namespace tarnhollow
