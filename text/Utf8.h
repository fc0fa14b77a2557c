// The one UTF-8 decoder of the product: the controller and the collector
// both walk UTF-8 through it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnhollow::utf8 {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValid(std::string_view bytes);

// For text that arrives in pieces: how many leading bytes form whole, valid
// characters, when what follows them is the valid start of one more (it
// waits for its rest); nothing when no continuation can make them valid.
std::optional<std::size_t> wholeCharacters(std::string_view bytes);

// The text, or the empty text when the bytes are not valid UTF-8 (no
// partial decoding, no other encoding tried).
std::string decodeOrEmpty(std::string bytes);

// The code point whose sequence starts at byte `i`, and the sequence's
// length; length 0 when no whole, valid sequence starts there.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};
Decoded decodeAt(std::string_view text, std::size_t i);

// Where the character that ends just before byte `i` (> 0) of valid text starts.
std::size_t startBefore(std::string_view text, std::size_t i);

} // namespace tarnhollow::utf8
