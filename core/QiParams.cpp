#include "QiParams.h"

#include "QiLog.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

std::string formatDouble(double value)
{
    char small[64];
    int n = snprintf(small, sizeof small, "%f", value);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    snprintf(big.data(), big.size(), "%f", value);
    big.resize(static_cast<size_t>(n));
    return big;
}

int32_t QiParams::parseInt(const char *text)
{
    // strtol with base 0: decimal, 0x hexadecimal, leading-zero octal.
    // Out-of-range values wrap like the 32-bit conversion they feed.
    return static_cast<int32_t>(strtoll(text, nullptr, 0));
}

uint32_t QiParams::parseUInt(const char *text)
{
    return static_cast<uint32_t>(strtoull(text, nullptr, 0));
}

double QiParams::parseDouble(const char *text)
{
    // Classic ("C") locale rules whatever the process locale says.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(text, nullptr, c);
}

bool QiParams::parseBool(const char *text)
{
    return strncasecmp(text, "true", 4) == 0 || strncasecmp(text, "yes", 3) == 0 ||
           strncasecmp(text, "1", 1) == 0;
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
    } else if (strncasecmp(t, "toggle", 6) == 0) {
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
