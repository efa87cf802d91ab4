#include "XmlRpcUtil.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string_view>

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

std::string parseTag(const char *tag, XmlRpcScanner &xml, size_t *offset)
{
    if (*offset >= xml.size())
        return std::string();
    size_t start = xml.find(tag, *offset);
    if (start == std::string::npos)
        return std::string();
    start += strlen(tag);
    std::string etag = "</";
    etag += tag + 1;
    size_t end = xml.find(etag.c_str(), start);
    if (end == std::string::npos)
        return std::string();
    *offset = end + etag.size();
    xml.charge(end - start);
    return xml.text().substr(start, end - start);
}

bool findTag(const char *tag, XmlRpcScanner &xml, size_t *offset)
{
    if (*offset >= xml.size())
        return false;
    size_t at = xml.find(tag, *offset);
    if (at == std::string::npos)
        return false;
    *offset = at + strlen(tag);
    return true;
}

bool nextTagIs(const char *tag, XmlRpcScanner &xml, size_t *offset)
{
    size_t pos = xml.skipBlanks(*offset);
    size_t n = strlen(tag);
    xml.charge(n);
    if (pos >= xml.size() || xml.text().compare(pos, n, tag) != 0)
        return false;
    *offset = pos + n;
    return true;
}

std::string getNextTag(XmlRpcScanner &xml, size_t *offset)
{
    size_t pos = xml.skipBlanks(*offset);
    if (pos >= xml.size() || xml.text()[pos] != '<')
        return std::string();
    size_t end = xml.findChar('>', pos);
    if (end == std::string::npos)
        return std::string();
    *offset = end + 1;
    xml.charge(end + 1 - pos);
    return xml.text().substr(pos, end + 1 - pos);
}

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i] whose code point XML 1.0
// allows, or 0.
size_t xmlCharLength(const unsigned char *s, size_t i, size_t n)
{
    unsigned char b = s[i];
    if (b < 0x80)
        return b >= 0x20 || b == '\t' || b == '\n' || b == '\r' ? 1 : 0;
    auto cont = [&](size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return i + k < n && s[i + k] >= lo && s[i + k] <= hi;
    };
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b == 0xE0)
        return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if (b == 0xED) // no surrogates
        return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (b >= 0xE1 && b <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        // U+FFFE and U+FFFF are not characters.
        if (b == 0xEF && s[i + 1] == 0xBF && s[i + 2] >= 0xBE)
            return 0;
        return 3;
    }
    if (b == 0xF0)
        return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (b >= 0xF1 && b <= 0xF3)
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (b == 0xF4)
        return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

} // namespace

void xmlEncode(const std::string &raw, std::string &out)
{
    const auto *s = reinterpret_cast<const unsigned char *>(raw.data());
    const size_t n = raw.size();
    size_t plain = 0; // start of the bytes not yet copied
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        const char *entity = nullptr;
        switch (c) {
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '&': entity = "&amp;"; break;
        case '\'': entity = "&apos;"; break;
        case '"': entity = "&quot;"; break;
        default: break;
        }
        if (!entity && c >= 0x20 && c < 0x80) {
            ++i;
            continue;
        }
        size_t len = entity ? 1 : xmlCharLength(s, i, n);
        if (!entity && len > 0) {
            i += len;
            continue;
        }
        out.append(raw, plain, i - plain);
        if (entity) {
            out += entity;
        } else {
            // One replacement per byte that cannot stand.
            out += kReplacement;
            len = 1;
        }
        i += len;
        plain = i;
    }
    out.append(raw, plain, n - plain);
}

std::string xmlEncode(const std::string &raw)
{
    std::string out;
    out.reserve(raw.size());
    xmlEncode(raw, out);
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

namespace {

// XML's white space (a tag may hold it before its '>').
bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '.' || c == '-';
}

} // namespace

bool XmlRpcScanner::longForm(const std::string &in, size_t from, std::string &out, std::vector<Rewrite> &rewrites)
{
    const size_t n = in.size();
    const char *s = in.data();
    size_t copied = 0; // input up to here is in out (once something was rewritten)
    size_t i = from;
    while (i < n) {
        const void *hit = memchr(s + i, '<', n - i);
        if (!hit)
            break;
        const size_t lt = static_cast<size_t>(static_cast<const char *>(hit) - s);
        size_t j = lt + 1;
        const bool endTag = j < n && s[j] == '/';
        if (endTag)
            ++j;
        const size_t nameFrom = j;
        while (j < n && isNameChar(s[j]))
            ++j;
        const size_t nameTo = j;
        if (nameTo == nameFrom) {
            i = lt + 1;
            continue;
        }
        while (j < n && isXmlSpace(s[j]))
            ++j;
        const bool empty = !endTag && j < n && s[j] == '/';
        if (empty)
            ++j;
        // Nothing scanned since the '<' can start another tag: go on from j.
        if (j >= n || s[j] != '>') {
            i = j;
            continue;
        }
        const size_t to = j + 1;
        if (!empty && j == nameTo) {
            i = to; // already the long form
            continue;
        }
        out.append(s + copied, lt - copied);
        const size_t outFrom = out.size();
        out += endTag ? "</" : "<";
        out.append(s + nameFrom, nameTo - nameFrom);
        out += '>';
        if (empty) {
            out += "</";
            out.append(s + nameFrom, nameTo - nameFrom);
            out += '>';
        }
        rewrites.push_back(Rewrite{lt, to, outFrom, out.size()});
        copied = i = to;
    }
    if (rewrites.empty())
        return false;
    out.append(s + copied, n - copied);
    return true;
}

XmlRpcScanner::XmlRpcScanner(const std::string &text, size_t from)
    : m_text(longForm(text, from, m_long, m_rewrites) ? m_long : text),
      m_budget(kWorkPerByte * static_cast<uint64_t>(m_text.size()) + kWorkBase)
{
}

size_t XmlRpcScanner::inputPosition(size_t pos) const
{
    auto after = std::upper_bound(m_rewrites.begin(), m_rewrites.end(), pos,
                                  [](size_t p, const Rewrite &r) { return p < r.outFrom; });
    if (after == m_rewrites.begin())
        return pos;
    const Rewrite &r = *std::prev(after);
    if (pos >= r.outTo)
        return pos - r.outTo + r.to;
    return pos == r.outFrom ? r.from : r.to;
}

void XmlRpcScanner::noteUnknownTag(const std::string &tag)
{
    // Enough to name it in a fault; the rest could be anything.
    constexpr size_t kShown = 64;
    if (m_unknownTag.empty())
        m_unknownTag = tag.size() > kShown ? tag.substr(0, kShown) + "..." : tag;
}

size_t XmlRpcScanner::find(const char *needle, size_t pos)
{
    const size_t n = m_text.size();
    if (pos >= n)
        return std::string::npos;
    const std::string_view text(m_text);
    Table *table = nullptr;
    for (Table &t : m_tables)
        if (t.needle == needle)
            table = &t;
    if (!table) {
        // Most searches end within a few bytes: look there first.
        constexpr size_t kNear = 256;
        const size_t len = strlen(needle);
        const size_t nearEnd = std::min(n, pos + kNear + len);
        size_t at = text.substr(pos, nearEnd - pos).find(needle);
        charge(at == std::string_view::npos ? nearEnd - pos : at + len);
        if (at != std::string_view::npos)
            return pos + at;
        if (nearEnd == n)
            return std::string::npos;
        if (n > std::numeric_limits<uint32_t>::max()) {
            at = text.find(needle, pos);
            charge(at == std::string_view::npos ? n - pos : at - pos);
            return at;
        }
        // One pass over the text answers every later search of this needle.
        m_tables.push_back(Table{needle, {}});
        table = &m_tables.back();
        for (size_t i = text.find(needle); i != std::string_view::npos; i = text.find(needle, i + 1))
            table->at.push_back(static_cast<uint32_t>(i));
    }
    charge(8);
    auto it = std::lower_bound(table->at.begin(), table->at.end(), static_cast<uint32_t>(pos));
    return it == table->at.end() ? std::string::npos : *it;
}

size_t XmlRpcScanner::findCached(Spans &spans, size_t pos, bool (*hit)(char))
{
    constexpr size_t npos = std::string::npos;
    // Shorter stretches cost less to scan again than to remember.
    constexpr size_t kWorthKeeping = 64;
    auto next = spans.upper_bound(pos);
    if (next != spans.begin()) {
        auto known = std::prev(next);
        if (known->second == npos || pos <= known->second) {
            charge(8);
            return known->second;
        }
    }
    // Scan only up to the next known stretch: every byte is scanned once.
    const size_t limit = next == spans.end() ? m_text.size() : next->first;
    size_t i = pos;
    while (i < limit && !hit(m_text[i]))
        ++i;
    charge(i - pos + 1);
    size_t result;
    if (i < limit) {
        result = i;
    } else if (next != spans.end()) {
        result = next->second;
        spans.erase(next); // joined into the stretch from pos
    } else {
        result = npos;
    }
    if ((result == npos ? m_text.size() : result) - pos >= kWorthKeeping || i == limit)
        spans.emplace(pos, result);
    return result;
}

size_t XmlRpcScanner::findChar(char c, size_t pos)
{
    if (pos >= m_text.size())
        return std::string::npos;
    if (c == '<')
        return findCached(m_lt, pos, [](char x) { return x == '<'; });
    if (c == '>')
        return findCached(m_gt, pos, [](char x) { return x == '>'; });
    size_t at = m_text.find(c, pos);
    charge(at == std::string::npos ? m_text.size() - pos : at - pos);
    return at;
}

size_t XmlRpcScanner::skipBlanks(size_t pos)
{
    if (pos >= m_text.size())
        return m_text.size();
    size_t at = findCached(m_blanks, pos, [](char x) { return !(x == ' ' || (x >= '\t' && x <= '\r')); });
    return at == std::string::npos ? m_text.size() : at;
}
