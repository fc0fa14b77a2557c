#include "platform/appkit/FoundationTextServices.h"

#import <Foundation/Foundation.h>

namespace tarnhollow::appkit {

bool FoundationTextServices::isDecimalDigit(char32_t codePoint)
{
    return [[NSCharacterSet decimalDigitCharacterSet] longCharacterIsMember:static_cast<UTF32Char>(codePoint)] == YES;
}

} // namespace tarnhollow::appkit
