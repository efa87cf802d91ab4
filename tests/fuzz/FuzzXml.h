#pragma once
// What every answer of the XML-RPC server must be, whatever was asked: an
// HTTP response whose length is right and whose body is well-formed XML 1.0
// (legal characters, balanced elements, known entities) holding a
// methodResponse with one readable value. Shared by the remote fuzz targets.
#include "XmlRpcValue.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzxml {

// Characters XML 1.0 allows, from well-formed UTF-8 only.
inline bool legalText(std::string_view s, std::string *why)
{
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            n = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            n = 4;
        } else {
            *why = "invalid UTF-8 lead byte at " + std::to_string(i);
            return false;
        }
        if (i + n > s.size()) {
            *why = "truncated UTF-8 at " + std::to_string(i);
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) {
                *why = "invalid UTF-8 continuation at " + std::to_string(i + k);
                return false;
            }
            cp = cp << 6 | (t & 0x3F);
        }
        const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
        const bool legal = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
        if (overlong || !legal) {
            *why = "character U+" + std::to_string(cp) + " not allowed at " + std::to_string(i);
            return false;
        }
        i += n;
    }
    return true;
}

inline bool nameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-' || c == ':';
}

// Balanced elements without attributes, the XML declaration first, entity
// references only to the five predefined entities or by number.
inline bool wellFormed(std::string_view x, std::string *why)
{
    if (!legalText(x, why))
        return false;
    size_t i = 0;
    if (x.substr(0, 5) == "<?xml") {
        i = x.find("?>");
        if (i == std::string_view::npos) {
            *why = "unterminated declaration";
            return false;
        }
        i += 2;
    }
    std::vector<std::string_view> open;
    bool rootSeen = false;
    while (i < x.size()) {
        const char c = x[i];
        if (c == '<') {
            const size_t end = x.find('>', i);
            if (end == std::string_view::npos) {
                *why = "unterminated tag at " + std::to_string(i);
                return false;
            }
            std::string_view tag = x.substr(i + 1, end - i - 1);
            const bool closing = !tag.empty() && tag[0] == '/';
            const bool empty = !tag.empty() && tag.back() == '/';
            std::string_view name = tag.substr(closing ? 1 : 0, tag.size() - (closing ? 1 : 0) - (empty ? 1 : 0));
            if (name.empty() || (closing && empty)) {
                *why = "bad tag at " + std::to_string(i);
                return false;
            }
            for (char n : name)
                if (!nameChar(n)) {
                    *why = "bad tag name at " + std::to_string(i);
                    return false;
                }
            if (closing) {
                if (open.empty() || open.back() != name) {
                    *why = "unbalanced </" + std::string(name) + "> at " + std::to_string(i);
                    return false;
                }
                open.pop_back();
            } else {
                if (open.empty() && rootSeen) {
                    *why = "second root element at " + std::to_string(i);
                    return false;
                }
                rootSeen = true;
                if (!empty)
                    open.push_back(name);
            }
            i = end + 1;
        } else if (c == '&') {
            const size_t semi = x.find(';', i);
            std::string_view ref = semi == std::string_view::npos ? std::string_view() : x.substr(i + 1, semi - i - 1);
            const bool known = ref == "lt" || ref == "gt" || ref == "amp" || ref == "apos" || ref == "quot" ||
                               (ref.size() > 1 && ref[0] == '#');
            if (!known) {
                *why = "bad entity reference at " + std::to_string(i);
                return false;
            }
            i = semi + 1;
        } else {
            const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
            if (open.empty() && !blank) {
                *why = "text outside the root at " + std::to_string(i);
                return false;
            }
            ++i;
        }
    }
    if (!open.empty() || !rootSeen) {
        *why = "unclosed elements at the end";
        return false;
    }
    return true;
}

// Aborts, saying why, unless response is a proper answer.
inline void checkResponse(const std::string &response)
{
    std::string why;
    const char kStart[] = "HTTP/1.1 200 OK\r\n";
    const size_t headerEnd = response.find("\r\n\r\n");
    const size_t lengthAt = response.find("Content-length: ");
    if (response.compare(0, sizeof kStart - 1, kStart) != 0 || headerEnd == std::string::npos ||
        lengthAt == std::string::npos || lengthAt > headerEnd) {
        why = "bad response header";
    } else {
        const std::string body = response.substr(headerEnd + 4);
        if (std::to_string(body.size()) != response.substr(lengthAt + 16, headerEnd - lengthAt - 16)) {
            why = "Content-length does not match the body";
        } else if (wellFormed(body, &why)) {
            // A result or a fault, then one value.
            size_t at = body.find("<methodResponse>");
            bool framed = false;
            if (at != std::string::npos) {
                at += 16;
                const size_t start = at;
                framed = XmlRpcUtil::nextTagIs("<params>", body, &at) && XmlRpcUtil::nextTagIs("<param>", body, &at);
                if (!framed) {
                    at = start;
                    framed = XmlRpcUtil::nextTagIs("<fault>", body, &at);
                }
            }
            XmlRpcValue v;
            if (!framed || !v.fromXml(body, &at))
                why = "no readable value in the answer";
            else
                return;
        }
    }
    std::fprintf(stderr, "ill-formed answer (%s):\n%.2000s\n", why.c_str(), response.c_str());
    std::abort();
}

} // namespace fuzzxml
