#include "QiUtf8.h"

#include <cstdint>

namespace {

// Decodes the sequence at s[i]: its length, or 0 when it is not well-formed.
size_t decode(std::string_view s, size_t i, uint32_t &cp)
{
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
        if (b == 0xE0)
            lo = 0xA0; // overlong
        else if (b == 0xED)
            hi = 0x9F; // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
        if (b == 0xF0)
            lo = 0x90; // overlong
        else if (b == 0xF4)
            hi = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF))
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return len;
}

} // namespace

bool QiUtf8::isCleanName(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t len = decode(text, i, cp);
        if (len == 0)
            return false;
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xFFFE || cp == 0xFFFF)
            return false;
        i += len;
    }
    return true;
}

std::string_view QiUtf8::cut(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Back over continuation bytes to the start of the sequence that spans
    // the cut, and leave that sequence out.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}
