#include "collector-tool/Text.h"
#include "platform/posix/WriteAll.h"
#include "text/Utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tarnhollow::tool {

namespace {

// Length of the valid UTF-8 sequence at the start of s, or 0; C1
// controls count as invalid, since they can move a terminal's cursor as
// well as the C0 ones.
std::size_t validSequence(std::string_view s)
{
    const utf8::Decoded d = utf8::decodeAt(s, 0);
    return d.code >= 0x80 && d.code <= 0x9F ? 0 : d.length;
}

void appendEscaped(std::string& out, unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

} // namespace

std::string escapeName(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c == 0x7F || c == '%') {
            appendEscaped(out, c);
            ++i;
            continue;
        }
        const std::size_t len = validSequence(bytes.substr(i));
        if (len == 0) {
            appendEscaped(out, c);
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string errorText(int error) { return std::strerror(error); }

std::string unsteerable(std::string_view escaped)
{
    std::string out;
    out.reserve(escaped.size());
    for (char c : escaped)
        out += c == '(' ? std::string("%28") : std::string(1, c);
    return out;
}

struct timespec wallClockNow()
{
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

std::string isoUtc(const struct timespec& t)
{
    struct tm tm {};
    gmtime_r(&t.tv_sec, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(t.tv_nsec));
    return buf;
}

std::string compactUtc(std::time_t t)
{
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

std::string octal(unsigned value, int width)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*o", width, value);
    return buf;
}

bool parseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (max - d) / 10)
            return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

std::string fileNameSafe(std::string_view text)
{
    std::string out;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        out += ok ? c : '_';
    }
    while (!out.empty() && out.front() == '.')
        out.erase(out.begin());
    if (out.size() > 64)
        out.resize(64);
    return out.empty() ? std::string("host") : out;
}

void writeLine(int fd, std::string_view line)
{
    std::string text(line);
    text += '\n';
    posix::writeAll(fd, text);
}

} // namespace tarnhollow::tool
