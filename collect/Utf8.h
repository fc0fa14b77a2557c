// UTF-8 checks shared by the controller's readers of outside text.
#pragma once

#include <string>
#include <string_view>

namespace tarnhollow::utf8 {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValid(std::string_view bytes);

// The text, or the empty text when the bytes are not valid UTF-8 (no
// partial decoding, no other encoding tried).
std::string decodeOrEmpty(std::string bytes);

} // namespace tarnhollow::utf8
