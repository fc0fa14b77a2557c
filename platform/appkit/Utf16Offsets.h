// Foundation reports text positions in UTF-16 code units; the seam speaks in
// byte offsets into UTF-8. This walks the UTF-8 text to translate one into
// the other. Plain C++, so that it is tested on every system.
#pragma once

#include "collect/Utf8.h"

#include <cstddef>
#include <string_view>

namespace tarnhollow::appkit {

class Utf16Offsets {
public:
    // `utf8` must be valid UTF-8 and outlive this object.
    explicit Utf16Offsets(std::string_view utf8)
        : text_(utf8)
    {
    }

    // The byte offset of the character that starts at UTF-16 index `unit`.
    // An index past the end gives the text's length; an index between the
    // two halves of a surrogate pair gives the start of that character.
    // Lookups in increasing order cost only the distance walked, so all the
    // ranges of a search in order cost one pass over the text.
    std::size_t byteOffset(std::size_t unit)
    {
        while (unit_ > unit) // backwards: step over continuation bytes
            stepBack();
        while (unit_ < unit && byte_ < text_.size()) {
            const std::size_t length = utf8::decodeAt(text_, byte_).length;
            if (length == 0)
                break; // not UTF-8 after all: stay put rather than loop
            const std::size_t units = length == 4 ? 2 : 1;
            if (unit_ + units > unit)
                break; // `unit` falls inside this character
            byte_ += length;
            unit_ += units;
        }
        return byte_ < text_.size() ? byte_ : text_.size();
    }

private:
    void stepBack()
    {
        const std::size_t start = utf8::startBefore(text_, byte_);
        unit_ -= byte_ - start == 4 ? 2 : 1;
        byte_ = start;
    }

    std::string_view text_;
    std::size_t byte_ = 0; // the cursor: a character boundary ...
    std::size_t unit_ = 0; // ... and its UTF-16 index
};

} // namespace tarnhollow::appkit
