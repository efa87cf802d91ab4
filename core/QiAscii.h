#pragma once
#include <cstddef>
#include <string_view>

// Text rules that must not follow the user's locale: names are compared
// ignoring case as ASCII (under a Turkish locale the C library's tolower
// leaves 'I' alone, so "imagefile" would not find "ImageFile"), and only
// ASCII digits and blanks count as such.

constexpr char qiAsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr bool qiAsciiDigit(char c) { return c >= '0' && c <= '9'; }
// The C locale's isspace: blank, \t, \n, \v, \f, \r.
constexpr bool qiAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strcasecmp's ordering under the C locale: <0, 0, >0.
constexpr int qiCompareIgnoreCase(std::string_view a, std::string_view b)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(qiAsciiLower(a[i]));
        const unsigned char y = static_cast<unsigned char>(qiAsciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

constexpr bool qiEqualsIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && qiCompareIgnoreCase(a, b) == 0;
}

// True when text begins with prefix, ignoring ASCII case.
constexpr bool qiStartsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && qiEqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}
