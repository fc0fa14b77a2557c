#include "platform/icu/IcuTextServices.h"

#include <unicode/uchar.h>
#include <unicode/uregex.h>
#include <unicode/utext.h>

#include <cstdio>
#include <cstdlib>

namespace tarnhollow {

namespace {

[[noreturn]] void fatal(const char* what, UErrorCode error)
{
    std::fprintf(stderr, "%s: %s\n", what, u_errorName(error));
    std::abort();
}

class IcuRegularExpression final : public RegularExpression {
public:
    explicit IcuRegularExpression(std::string_view pattern)
    {
        UErrorCode error = U_ZERO_ERROR;
        UText* text = utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &error);
        UParseError parseError{};
        regex_ = uregex_openUText(text, 0, &parseError, &error);
        utext_close(text);
        if (U_FAILURE(error))
            fatal("regular expression does not compile", error);
    }
    ~IcuRegularExpression() override { uregex_close(regex_); }

    // Searches the UTF-8 text in place (no conversion to UTF-16); offsets
    // are byte offsets.
    std::vector<Match> matches(std::string_view utf8) const override
    {
        UErrorCode error = U_ZERO_ERROR;
        // A clone per call keeps the compiled pattern free of per-search state.
        URegularExpression* regex = uregex_clone(regex_, &error);
        UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &error);
        uregex_setUText(regex, text, &error);
        if (U_FAILURE(error))
            fatal("regular expression search", error);
        const int32_t groupCount = uregex_groupCount(regex, &error);
        std::vector<Match> found;
        while (uregex_findNext(regex, &error) && U_SUCCESS(error)) {
            Match match;
            match.begin = static_cast<std::size_t>(uregex_start64(regex, 0, &error));
            match.end = static_cast<std::size_t>(uregex_end64(regex, 0, &error));
            for (int32_t group = 1; group <= groupCount; ++group) {
                const int64_t begin = uregex_start64(regex, group, &error);
                const int64_t end = uregex_end64(regex, group, &error);
                if (begin < 0 || end < begin)
                    match.groups.emplace_back();
                else
                    match.groups.emplace_back(
                        utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
            }
            found.push_back(std::move(match));
        }
        uregex_close(regex);
        utext_close(text);
        return found;
    }

private:
    URegularExpression* regex_ = nullptr;
};

} // namespace

std::unique_ptr<RegularExpression> IcuTextServices::compile(std::string_view pattern)
{
    return std::make_unique<IcuRegularExpression>(pattern);
}

bool IcuTextServices::isDecimalDigit(char32_t codePoint)
{
    return u_charType(static_cast<UChar32>(codePoint)) == U_DECIMAL_DIGIT_NUMBER;
}

} // namespace tarnhollow
