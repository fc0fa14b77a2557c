#include "collect/LastLine.h"

#include "collect/ByteScan.h"
#include "collect/Utf8.h"

namespace tarnhollow::lines {

std::string_view lastNonEmptyLine(std::string_view text)
{
    const unsigned char* s = bytescan::bytes(text);
    std::size_t end = text.size();
    for (;;) {
        std::size_t separator = end;
        do
            separator = separator == 0 ? bytescan::none : bytescan::lastByte(s, 0, separator, '\n');
        while (separator != bytescan::none && separator > 0 && s[separator - 1] == '\r');
        const std::size_t begin = separator == bytescan::none ? 0 : separator + 1;
        if (begin < end)
            return text.substr(begin, end - begin);
        if (separator == bytescan::none)
            return {};
        end = separator;
    }
}

namespace {

bool isWhitespaceOrNewline(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
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
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const utf8::Decoded d = utf8::decodeAt(text, start);
        if (d.length != end - start || !isWhitespaceOrNewline(d.code))
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace tarnhollow::lines
