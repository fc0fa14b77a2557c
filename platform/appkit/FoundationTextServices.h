// Character classes from Foundation.
#pragma once

#include "platform/Platform.h"

namespace tarnhollow::appkit {

class FoundationTextServices final : public TextServices {
public:
    bool isDecimalDigit(char32_t codePoint) override;
};

} // namespace tarnhollow::appkit
