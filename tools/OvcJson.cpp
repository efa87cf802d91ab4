#include "OvcJson.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

const char kBase64Key[] = "base64";
const char kDateKey[] = "dateTime.iso8601";
const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const XmlRpcValue::BinaryData &in)
{
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    const size_t rest = in.size() - i;
    if (rest > 0) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (rest == 2 ? uint32_t(in[i + 1]) << 8 : 0);
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += rest == 2 ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Strict: only the alphabet, padding at the end, white space ignored.
bool base64Decode(const std::string &in, XmlRpcValue::BinaryData &out)
{
    uint32_t acc = 0;
    int bits = 0;
    size_t pad = 0;
    for (char c : in) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            ++pad;
            continue;
        }
        const char *p = c ? std::strchr(kB64, c) : nullptr;
        if (!p || pad)
            return false;
        acc = (acc << 6) | static_cast<uint32_t>(p - kB64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
        }
    }
    return pad <= 2;
}

bool digits(const std::string &s, size_t at, size_t n, int &out)
{
    if (at + n > s.size())
        return false;
    for (size_t i = at; i < at + n; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return std::from_chars(s.data() + at, s.data() + at + n, out).ec == std::errc();
}

// "YYYYMMDDTHH:MM:SS", the XML-RPC form.
bool parseDate(const std::string &s, std::tm &t)
{
    t = std::tm{};
    if (s.size() != 17 || s[8] != 'T' || s[11] != ':' || s[14] != ':')
        return false;
    if (!digits(s, 0, 4, t.tm_year) || !digits(s, 4, 2, t.tm_mon) || !digits(s, 6, 2, t.tm_mday) ||
        !digits(s, 9, 2, t.tm_hour) || !digits(s, 12, 2, t.tm_min) || !digits(s, 15, 2, t.tm_sec))
        return false;
    t.tm_isdst = -1;
    return true;
}

void appendPadded(std::string &out, int v, int width)
{
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
    std::string d(buf, r.ptr);
    if (v < 0)
        out += '-';
    for (int i = static_cast<int>(d.size()); i < width; ++i)
        out += '0';
    out += d;
}

std::string formatDate(const std::tm &t)
{
    std::string s;
    appendPadded(s, t.tm_year, 4);
    appendPadded(s, t.tm_mon, 2);
    appendPadded(s, t.tm_mday, 2);
    s += 'T';
    appendPadded(s, t.tm_hour, 2);
    s += ':';
    appendPadded(s, t.tm_min, 2);
    s += ':';
    appendPadded(s, t.tm_sec, 2);
    return s;
}

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8Length(const std::string &s, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n;
    uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

class Parser {
public:
    explicit Parser(const std::string &t) : m_t(t) {}

    bool document(XmlRpcValue &out, std::string &error)
    {
        blanks();
        if (!value(out, 0)) {
            error = m_error + " at byte " + std::to_string(m_pos);
            return false;
        }
        blanks();
        if (m_pos != m_t.size()) {
            error = "unexpected text after the value at byte " + std::to_string(m_pos);
            return false;
        }
        return true;
    }

private:
    bool fail(const char *why)
    {
        m_error = why;
        return false;
    }
    void blanks()
    {
        while (m_pos < m_t.size() &&
               (m_t[m_pos] == ' ' || m_t[m_pos] == '\t' || m_t[m_pos] == '\n' || m_t[m_pos] == '\r'))
            ++m_pos;
    }
    bool literal(const char *word)
    {
        const size_t n = std::strlen(word);
        if (m_t.compare(m_pos, n, word) != 0)
            return false;
        m_pos += n;
        return true;
    }

    bool value(XmlRpcValue &out, int depth)
    {
        if (depth > OvcJson::kMaxDepth)
            return fail("nested too deeply");
        if (m_pos >= m_t.size())
            return fail("a value is missing");
        const char c = m_t[m_pos];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            std::string s;
            if (!string(s))
                return false;
            out = XmlRpcValue(s);
            return true;
        }
        if (literal("true")) {
            out = XmlRpcValue(true);
            return true;
        }
        if (literal("false")) {
            out = XmlRpcValue(false);
            return true;
        }
        if (m_t.compare(m_pos, 4, "null") == 0)
            return fail("null has no XML-RPC value");
        if (c == '-' || (c >= '0' && c <= '9'))
            return number(out);
        return fail("not a JSON value");
    }

    bool number(XmlRpcValue &out)
    {
        const size_t start = m_pos;
        bool integral = true;
        if (m_t[m_pos] == '-')
            ++m_pos;
        if (m_pos >= m_t.size() || m_t[m_pos] < '0' || m_t[m_pos] > '9')
            return fail("a number needs digits");
        if (m_t[m_pos] == '0')
            ++m_pos;
        else
            while (m_pos < m_t.size() && m_t[m_pos] >= '0' && m_t[m_pos] <= '9')
                ++m_pos;
        if (m_pos < m_t.size() && m_t[m_pos] == '.') {
            integral = false;
            ++m_pos;
            const size_t d = m_pos;
            while (m_pos < m_t.size() && m_t[m_pos] >= '0' && m_t[m_pos] <= '9')
                ++m_pos;
            if (m_pos == d)
                return fail("a fraction needs digits");
        }
        if (m_pos < m_t.size() && (m_t[m_pos] == 'e' || m_t[m_pos] == 'E')) {
            integral = false;
            ++m_pos;
            if (m_pos < m_t.size() && (m_t[m_pos] == '+' || m_t[m_pos] == '-'))
                ++m_pos;
            const size_t d = m_pos;
            while (m_pos < m_t.size() && m_t[m_pos] >= '0' && m_t[m_pos] <= '9')
                ++m_pos;
            if (m_pos == d)
                return fail("an exponent needs digits");
        }
        const char *b = m_t.data() + start, *e = m_t.data() + m_pos;
        if (integral) {
            int32_t i = 0;
            auto r = std::from_chars(b, e, i);
            if (r.ec == std::errc() && r.ptr == e) {
                out = XmlRpcValue(static_cast<int>(i));
                return true;
            }
        }
        double d = 0.0;
        auto r = std::from_chars(b, e, d);
        if (r.ptr != e || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range))
            return fail("not a number");
        if (r.ec == std::errc::result_out_of_range || !std::isfinite(d))
            return fail("number out of range");
        out = XmlRpcValue(d);
        return true;
    }

    bool hex4(uint32_t &out)
    {
        if (m_pos + 4 > m_t.size())
            return fail("a \\u escape needs four hex digits");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_t[m_pos++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("a \\u escape needs four hex digits");
        }
        return true;
    }

    bool string(std::string &out)
    {
        ++m_pos; // the opening quote
        for (;;) {
            if (m_pos >= m_t.size())
                return fail("a string is not closed");
            const unsigned char c = static_cast<unsigned char>(m_t[m_pos]);
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20)
                return fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                ++m_pos;
                continue;
            }
            if (++m_pos >= m_t.size())
                return fail("a string is not closed");
            const char e = m_t[m_pos++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t lo;
                    if (m_t.compare(m_pos, 2, "\\u") != 0)
                        return fail("a high surrogate needs its low half");
                    m_pos += 2;
                    if (!hex4(lo))
                        return false;
                    if (lo < 0xDC00 || lo > 0xDFFF)
                        return fail("a high surrogate needs its low half");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return fail("a low surrogate alone");
                }
                appendUtf8(out, cp);
                break;
            }
            default: return fail("unknown escape in a string");
            }
        }
    }

    bool array(XmlRpcValue &out, int depth)
    {
        ++m_pos;
        XmlRpcValue::ValueArray items;
        blanks();
        if (m_pos < m_t.size() && m_t[m_pos] == ']') {
            ++m_pos;
            out = XmlRpcValue(std::move(items));
            return true;
        }
        for (;;) {
            blanks();
            XmlRpcValue v;
            if (!value(v, depth + 1))
                return false;
            items.push_back(std::move(v));
            blanks();
            if (m_pos < m_t.size() && m_t[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_t.size() && m_t[m_pos] == ']') {
                ++m_pos;
                out = XmlRpcValue(std::move(items));
                return true;
            }
            return fail("expected ',' or ']' in an array");
        }
    }

    bool object(XmlRpcValue &out, int depth)
    {
        ++m_pos;
        XmlRpcValue::ValueStruct members;
        blanks();
        if (m_pos < m_t.size() && m_t[m_pos] == '}') {
            ++m_pos;
            out = XmlRpcValue(std::move(members));
            return true;
        }
        for (;;) {
            blanks();
            if (m_pos >= m_t.size() || m_t[m_pos] != '"')
                return fail("expected a member name");
            std::string name;
            if (!string(name))
                return false;
            blanks();
            if (m_pos >= m_t.size() || m_t[m_pos] != ':')
                return fail("expected ':' after a member name");
            ++m_pos;
            blanks();
            XmlRpcValue v;
            if (!value(v, depth + 1))
                return false;
            members[name] = std::move(v);
            blanks();
            if (m_pos < m_t.size() && m_t[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_t.size() && m_t[m_pos] == '}') {
                ++m_pos;
                break;
            }
            return fail("expected ',' or '}' in an object");
        }
        // The two XML-RPC types JSON lacks.
        if (members.size() == 1) {
            const auto &[name, v] = *members.begin();
            if (name == kBase64Key && v.getType() == XmlRpcValue::TypeString) {
                XmlRpcValue::BinaryData bytes;
                if (!base64Decode(v.asString(), bytes))
                    return fail("not base64 text");
                out = XmlRpcValue(bytes.data(), bytes.size());
                return true;
            }
            if (name == kDateKey && v.getType() == XmlRpcValue::TypeString) {
                std::tm t;
                if (!parseDate(v.asString(), t))
                    return fail("a dateTime.iso8601 is written YYYYMMDDTHH:MM:SS");
                out = XmlRpcValue(t);
                return true;
            }
        }
        out = XmlRpcValue(std::move(members));
        return true;
    }

    const std::string &m_t;
    size_t m_pos = 0;
    std::string m_error;
};

void newline(std::string &out, bool pretty, int level)
{
    if (!pretty)
        return;
    out += '\n';
    out.append(static_cast<size_t>(level) * 2, ' ');
}

void writeValue(std::string &out, const XmlRpcValue &v, bool pretty, int level)
{
    switch (v.getType()) {
    case XmlRpcValue::TypeInvalid: out += "null"; break;
    case XmlRpcValue::TypeBoolean: out += v.asBool() ? "true" : "false"; break;
    case XmlRpcValue::TypeInt: {
        char buf[16];
        auto r = std::to_chars(buf, buf + sizeof buf, v.asInt());
        out.append(buf, r.ptr);
        break;
    }
    case XmlRpcValue::TypeDouble: OvcJson::appendDouble(out, v.asDouble()); break;
    case XmlRpcValue::TypeString: OvcJson::appendString(out, v.asString()); break;
    case XmlRpcValue::TypeDateTime:
        out += pretty ? "{ " : "{";
        OvcJson::appendString(out, kDateKey);
        out += pretty ? ": " : ":";
        OvcJson::appendString(out, formatDate(v.asTime()));
        out += pretty ? " }" : "}";
        break;
    case XmlRpcValue::TypeBase64:
        out += pretty ? "{ " : "{";
        OvcJson::appendString(out, kBase64Key);
        out += pretty ? ": " : ":";
        OvcJson::appendString(out, base64Encode(v.asBinary()));
        out += pretty ? " }" : "}";
        break;
    case XmlRpcValue::TypeArray: {
        const auto &a = v.array();
        if (a.empty()) {
            out += "[]";
            break;
        }
        out += '[';
        for (size_t i = 0; i < a.size(); ++i) {
            if (i)
                out += ',';
            newline(out, pretty, level + 1);
            writeValue(out, a[i], pretty, level + 1);
        }
        newline(out, pretty, level);
        out += ']';
        break;
    }
    case XmlRpcValue::TypeStruct: {
        const auto &s = v.structMembers();
        if (s.empty()) {
            out += "{}";
            break;
        }
        out += '{';
        bool first = true;
        for (const auto &[name, member] : s) {
            if (!first)
                out += ',';
            first = false;
            newline(out, pretty, level + 1);
            OvcJson::appendString(out, name);
            out += pretty ? ": " : ":";
            writeValue(out, member, pretty, level + 1);
        }
        newline(out, pretty, level);
        out += '}';
        break;
    }
    }
}

} // namespace

bool OvcJson::parse(const std::string &text, XmlRpcValue &out, std::string &error)
{
    out.clear();
    Parser p(text);
    XmlRpcValue v;
    if (!p.document(v, error))
        return false;
    out = std::move(v);
    return true;
}

std::string OvcJson::write(const XmlRpcValue &value, bool pretty)
{
    std::string out;
    writeValue(out, value, pretty, 0);
    return out;
}

void OvcJson::appendString(std::string &out, const std::string &text)
{
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t n = utf8Length(text, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
}

void OvcJson::appendDouble(std::string &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, r.ptr);
    // JSON readers take "1e+20" and "3" as numbers; keep doubles visibly so.
    if (text.find_first_of(".eE") == std::string::npos && text.find("inf") == std::string::npos)
        text += ".0";
    out += text;
}
