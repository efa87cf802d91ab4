#include "QiParams.h"

#include "QiAscii.h"
#include "QiLog.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

std::string formatDouble(double value)
{
    // "%f" as the C locale writes it, whatever the process locale: six
    // decimals, a point. The largest double takes 317 characters.
    char text[400];
    auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    if (r.ec != std::errc())
        return "0.000000";
    return std::string(text, r.ptr);
}

namespace {

// strtoul's reading with base 0 (0x hexadecimal, leading-0 octal, else
// decimal) after C-locale blanks and a sign. The magnitude saturates just
// above 32 bits: both readers clamp to 32-bit limits.
struct ParsedInteger {
    bool negative = false;
    uint64_t magnitude = 0;
};

ParsedInteger parseInteger(const char *text)
{
    ParsedInteger out;
    const char *p = text;
    while (qiAsciiSpace(*p))
        ++p;
    if (*p == '+' || *p == '-')
        out.negative = *p++ == '-';
    unsigned base = 10;
    auto digit = [&base](char c) -> int {
        int d = 99;
        if (qiAsciiDigit(c))
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        return d < static_cast<int>(base) ? d : -1;
    };
    if (p[0] == '0') {
        base = (p[1] == 'x' || p[1] == 'X') ? 16 : 8;
        if (base == 16) {
            if (digit(p[2]) < 0)
                return out; // "0x" alone reads as the 0 before it
            p += 2;
        }
    }
    constexpr uint64_t cap = uint64_t{1} << 33;
    for (int d; (d = digit(*p)) >= 0; ++p) {
        out.magnitude = out.magnitude * base + static_cast<uint64_t>(d);
        if (out.magnitude > cap)
            out.magnitude = cap;
    }
    return out;
}

} // namespace

int32_t QiParams::parseInt(const char *text)
{
    // Beyond 32 bits the value saturates, as strtol does where long has 32
    // bits: "3000000000" is the largest integer, not a negative one.
    const ParsedInteger v = parseInteger(text);
    if (v.negative)
        return v.magnitude > uint64_t{1} << 31 ? std::numeric_limits<int32_t>::min()
                                               : static_cast<int32_t>(-static_cast<int64_t>(v.magnitude));
    return v.magnitude > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(v.magnitude);
}

uint32_t QiParams::parseUInt(const char *text)
{
    // strtoul with a 32-bit long: a magnitude beyond 32 bits saturates; a
    // minus sign negates within 32 bits ("-1" is 4294967295).
    const ParsedInteger v = parseInteger(text);
    if (v.magnitude > std::numeric_limits<uint32_t>::max())
        return std::numeric_limits<uint32_t>::max();
    const uint32_t m = static_cast<uint32_t>(v.magnitude);
    return v.negative ? 0u - m : m;
}

double QiParams::parseDouble(const char *text)
{
    // strtod's reading in the C locale (blanks, a sign, decimal or 0x
    // hexadecimal digits, inf, nan), whatever the process locale says;
    // anything else reads as 0.
    const char *p = text;
    while (qiAsciiSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p == '+' || *p == '-')
        return 0.0;
    const char *end = p + std::strlen(p);
    std::chars_format format = std::chars_format::general;
    const char *digits = p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        format = std::chars_format::hex;
        digits = p + 2;
    }
    double value = 0.0;
    // from_chars takes a sign, "inf" and "nan" of its own; after "0x" only
    // hexadecimal digits or a point continue the number ("0x-1" and "0xnan"
    // are the 0 before the x).
    const bool hexDigits = qiAsciiDigit(*digits) || (*digits >= 'a' && *digits <= 'f') ||
                           (*digits >= 'A' && *digits <= 'F') || *digits == '.';
    auto r = format == std::chars_format::hex && !hexDigits
                 ? std::from_chars_result{digits, std::errc::invalid_argument}
                 : std::from_chars(digits, end, value, format);
    if (r.ec == std::errc::invalid_argument) {
        // Nothing to read is 0; "-0x" without hexadecimal digits is the
        // signed zero before the x, as strtod has it.
        return negative && format == std::chars_format::hex ? -0.0 : 0.0;
    }
    if (r.ec == std::errc::result_out_of_range) {
        // Too large, or too small to be told from zero: which one the
        // exponent (or, without one, the integer part) says.
        bool large = false;
        const char *e = nullptr;
        for (const char *q = digits; q < r.ptr; ++q)
            if (*q == (format == std::chars_format::hex ? 'p' : 'e') ||
                *q == (format == std::chars_format::hex ? 'P' : 'E'))
                e = q;
        if (e) {
            large = e[1] != '-';
        } else {
            for (const char *q = digits; q < r.ptr && *q != '.'; ++q)
                large = large || (*q != '0');
        }
        value = large ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

bool QiParams::parseBool(const char *text)
{
    return qiStartsWithIgnoreCase(text, "true") || qiStartsWithIgnoreCase(text, "yes") ||
           qiStartsWithIgnoreCase(text, "1");
}

bool QiParams::set(const std::string &key, const std::string &value)
{
    m_map.erase(key);
    m_map.emplace(key, value);
    return true;
}

bool QiParams::setInt(const std::string &key, int32_t value)
{
    return set(key, std::to_string(value));
}

bool QiParams::setDouble(const std::string &key, double value)
{
    return set(key, formatDouble(value));
}

bool QiParams::get(const std::string &key, const char *&out) const
{
    auto it = m_map.find(key);
    if (it == m_map.end())
        return false;
    out = it->second.c_str();
    return true;
}

bool QiParams::getInt(const std::string &key, int32_t &out) const
{
    const char *t;
    if (!get(key, t))
        return false;
    out = parseInt(t);
    return true;
}

bool QiParams::getUInt(const std::string &key, uint32_t &out) const
{
    const char *t;
    if (!get(key, t))
        return false;
    out = parseUInt(t);
    return true;
}

bool QiParams::getDouble(const std::string &key, double &out) const
{
    const char *t;
    if (!get(key, t))
        return false;
    out = parseDouble(t);
    return true;
}

bool QiParams::getBool(const std::string &key, bool &out) const
{
    const char *t;
    if (!get(key, t))
        return false;
    out = parseBool(t);
    return true;
}

bool QiParams::getBoolToggle(const std::string &key, bool &inout)
{
    const char *t;
    if (!get(key, t))
        return false;
    if (parseBool(t)) {
        inout = true;
    } else if (qiStartsWithIgnoreCase(t, "toggle")) {
        inout = !inout;
        set(key, inout ? "true" : "false");
    } else {
        inout = false;
    }
    return true;
}

bool QiParams::remove(const std::string &key)
{
    m_map.erase(key);
    return true;
}

bool QiParams::addMissing(const QiParams &other)
{
    for (const auto &kv : other.m_map)
        m_map.emplace(kv.first, kv.second);
    return true;
}

void QiParams::dump(const char *title) const
{
    qiLog(2, "Dump '%s':\n", title);
    for (const auto &kv : m_map)
        qiLog(2, "  %s => '%s'\n", kv.first.c_str(), kv.second.c_str());
}
