#include "collect/LastLine.h"

#include "text/Utf8.h"

namespace tarnhollow::lines {

std::optional<std::string_view> lastNonEmptyPiece(std::string_view text, bool whole)
{
    std::size_t end = text.size();
    for (std::size_t i = end; i > 0; --i) {
        if (text[i - 1] != '\n')
            continue;
        // Whether a line feed at the very start follows a carriage return
        // is known only when nothing comes before it.
        if (i == 1 && !whole)
            return std::nullopt;
        if (i >= 2 && text[i - 2] == '\r')
            continue;
        if (i < end)
            return text.substr(i, end - i);
        end = i - 1;
    }
    if (!whole)
        return std::nullopt;
    return text.substr(0, end);
}

std::string_view lastNonEmptyLine(std::string_view text) { return *lastNonEmptyPiece(text, true); }

namespace {

bool isWhitespaceOrNewline(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        const utf8::Decoded d = utf8::decodeAt(text, begin);
        if (d.length == 0 || !isWhitespaceOrNewline(d.code))
            break;
        begin += d.length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t start = utf8::startBefore(text, end);
        const utf8::Decoded d = utf8::decodeAt(text, start);
        if (d.length != end - start || !isWhitespaceOrNewline(d.code))
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace tarnhollow::lines
