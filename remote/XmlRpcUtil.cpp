#include "XmlRpcUtil.h"

#include <atomic>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace XmlRpcUtil {

namespace {
std::atomic<int> g_verbosity{0};
std::atomic<ErrorSink> g_errorSink{nullptr};

// The C locale's white space, whatever the process locale says.
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

locale_t classicLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

struct Entity {
    char raw;
    const char *name; // after the ampersand
    size_t length;
};
const Entity kEntities[] = {
    {'<', "lt;", 3}, {'>', "gt;", 3}, {'&', "amp;", 4}, {'\'', "apos;", 5}, {'"', "quot;", 5},
};
} // namespace

int verbosity() { return g_verbosity.load(std::memory_order_relaxed); }
void setVerbosity(int level) { g_verbosity.store(level, std::memory_order_relaxed); }

ClassicNumbers::ClassicNumbers() : m_old(uselocale(classicLocale())) {}
ClassicNumbers::~ClassicNumbers() { uselocale(static_cast<locale_t>(m_old)); }

bool readDouble(const char *text, double &out)
{
    const char *p = text;
    while (isBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p == '+' || *p == '-')
        return false;
    const char *end = p + strlen(p);
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    const std::chars_format format = hex ? std::chars_format::hex : std::chars_format::general;
    double value = 0.0;
    auto r = std::from_chars(hex ? p + 2 : p, end, value, format);
    if (r.ec == std::errc::invalid_argument) {
        if (!hex)
            return false;
        value = 0.0; // "0x" alone: the 0 before it
    } else if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small: the exponent's sign (or, without one,
        // a non-zero integer part) tells which.
        const char expChar = hex ? 'p' : 'e';
        const char *e = nullptr;
        for (const char *q = p; q < r.ptr; ++q)
            if ((*q | 0x20) == expChar)
                e = q;
        bool large = false;
        if (e)
            large = e[1] != '-';
        else
            for (const char *q = hex ? p + 2 : p; q < r.ptr && *q != '.'; ++q)
                large = large || *q != '0';
        value = large ? HUGE_VAL : 0.0;
    }
    out = negative ? -value : value;
    return true;
}

void log(int level, const char *format, ...)
{
    if (level > verbosity())
        return;
    ClassicNumbers classic;
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    fprintf(stdout, "%s\n", buf);
    fflush(stdout);
}

void error(const char *format, ...)
{
    ClassicNumbers classic;
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (ErrorSink sink = g_errorSink.load())
        sink(buf);
    else
        fprintf(stderr, "%s\n", buf);
}

void setErrorSink(ErrorSink sink) { g_errorSink.store(sink); }

std::string parseTag(const char *tag, const std::string &xml, size_t *offset)
{
    if (*offset >= xml.size())
        return std::string();
    size_t start = xml.find(tag, *offset);
    if (start == std::string::npos)
        return std::string();
    start += strlen(tag);
    std::string etag = "</";
    etag += tag + 1;
    size_t end = xml.find(etag, start);
    if (end == std::string::npos)
        return std::string();
    *offset = end + etag.size();
    return xml.substr(start, end - start);
}

bool findTag(const char *tag, const std::string &xml, size_t *offset)
{
    if (*offset >= xml.size())
        return false;
    size_t at = xml.find(tag, *offset);
    if (at == std::string::npos)
        return false;
    *offset = at + strlen(tag);
    return true;
}

bool nextTagIs(const char *tag, const std::string &xml, size_t *offset)
{
    size_t pos = *offset;
    while (pos < xml.size() && isBlank(xml[pos]))
        ++pos;
    size_t n = strlen(tag);
    if (pos >= xml.size() || xml.compare(pos, n, tag) != 0)
        return false;
    *offset = pos + n;
    return true;
}

std::string getNextTag(const std::string &xml, size_t *offset)
{
    size_t pos = *offset;
    while (pos < xml.size() && isBlank(xml[pos]))
        ++pos;
    if (pos >= xml.size() || xml[pos] != '<')
        return std::string();
    size_t end = xml.find('>', pos);
    if (end == std::string::npos)
        return std::string();
    *offset = end + 1;
    return xml.substr(pos, end + 1 - pos);
}

std::string xmlEncode(const std::string &raw)
{
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '\'': out += "&apos;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string xmlDecode(const std::string &encoded)
{
    size_t amp = encoded.find('&');
    if (amp == std::string::npos)
        return encoded;
    std::string out;
    out.reserve(encoded.size());
    out.append(encoded, 0, amp);
    for (size_t i = amp; i < encoded.size();) {
        if (encoded[i] == '&') {
            bool matched = false;
            for (const Entity &e : kEntities) {
                if (encoded.compare(i + 1, e.length, e.name) == 0) {
                    out += e.raw;
                    i += 1 + e.length;
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out += encoded[i++];
    }
    return out;
}

std::string socketError(int err)
{
    char buf[32];
    snprintf(buf, sizeof buf, "error %d", err);
    return buf;
}

} // namespace XmlRpcUtil
