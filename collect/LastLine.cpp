#include "collect/LastLine.h"

#include "platform/Platform.h"
#include "text/Utf8.h"

namespace tarnhollow::lines {

std::string_view lastNonEmptyLine(std::string_view text)
{
    std::size_t end = text.size();
    for (std::size_t i = end; i > 0; --i) {
        if (text[i - 1] != '\n' || (i >= 2 && text[i - 2] == '\r'))
            continue;
        if (i < end)
            return text.substr(i, end - i);
        end = i - 1;
    }
    return text.substr(0, end);
}

std::string lastNonEmptyLineOf(ReadableFile& file, std::size_t chunk)
{
    std::string piece, last; // the piece being read; the last non-empty one before it
    std::string bytes;       // read and not yet taken: at most a character's start
    std::string read(chunk, '\0');
    for (uint64_t offset = 0;;) {
        const auto got = file.readAt(offset, read.data(), read.size());
        if (!got)
            return {};
        if (*got == 0)
            break;
        offset += *got;
        bytes.append(read, 0, *got);
        const auto whole = utf8::wholeCharacters(bytes);
        if (!whole)
            return {};
        std::string_view text = std::string_view(bytes).substr(0, *whole);
        for (std::size_t feed; (feed = text.find('\n')) != std::string_view::npos;) {
            piece.append(text.substr(0, feed));
            text.remove_prefix(feed + 1);
            if (!piece.empty() && piece.back() == '\r') {
                piece.push_back('\n'); // one character with the return, no line end
            } else if (!piece.empty()) {
                std::swap(last, piece);
                piece.clear();
            }
        }
        piece.append(text);
        bytes.erase(0, *whole);
    }
    // A file that ends inside a character is no UTF-8 text either.
    if (!bytes.empty())
        return {};
    return piece.empty() ? last : piece;
}

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
