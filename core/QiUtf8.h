#pragma once
#include <cstddef>
#include <string_view>

// Names that clients choose and that travel back in XML answers (aliases)
// must be text XML can carry: well-formed UTF-8 without control characters.
struct QiUtf8 {
    // Well-formed UTF-8 (no overlong forms, surrogates or code points past
    // U+10FFFF) holding no control character (C0, DEL, C1) and neither
    // U+FFFE nor U+FFFF.
    static bool isCleanName(std::string_view text);
    // The longest prefix of at most maxBytes bytes that does not end inside
    // a UTF-8 sequence.
    static std::string_view cut(std::string_view text, size_t maxBytes);
};
