// The option value parsers against the C library's own readers under the C
// locale (what the values always meant): integers with automatic base,
// unsigned integers, reals, booleans; and the descriptors built on them:
// clamped integers and reals, RGB triples, enumerations with toggling.
//
// Input: a selector byte, then texts separated by NUL bytes. For the
// enumeration, the first texts are the values and the last is the request.
#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiParams.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <vector>

namespace {

locale_t cLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

[[noreturn]] void fail(const char *what, const std::string &text)
{
    std::string shown;
    for (unsigned char c : text) {
        char b[8];
        std::snprintf(b, sizeof b, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
        shown += b;
    }
    std::fprintf(stderr, "%s: '%s'\n", what, shown.c_str());
    std::abort();
}

// strtol as it reads where long has 32 bits: saturating at the int range.
int32_t cInt(const char *t)
{
    errno = 0;
    const long long v = strtoll_l(t, nullptr, 0, cLocale());
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
}

// strtoul where long has 32 bits: a magnitude beyond 32 bits saturates, a
// minus sign negates within 32 bits.
uint32_t cUInt(const char *t)
{
    const char *p = t;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return 0; // nothing to convert: the sign alone is not a number
    errno = 0;
    const unsigned long long m = strtoull_l(p, nullptr, 0, cLocale());
    if (errno == ERANGE || m > UINT32_MAX)
        return UINT32_MAX;
    const uint32_t m32 = static_cast<uint32_t>(m);
    return negative ? 0u - m32 : m32;
}

bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool cBool(const char *t)
{
    return strncasecmp_l(t, "true", 4, cLocale()) == 0 || strncasecmp_l(t, "yes", 3, cLocale()) == 0 ||
           strncasecmp_l(t, "1", 1, cLocale()) == 0;
}

void checkParsers(const std::string &text)
{
    const char *t = text.c_str();
    if (QiParams::parseInt(t) != cInt(t))
        fail("parseInt differs from strtol", text);
    if (QiParams::parseUInt(t) != cUInt(t))
        fail("parseUInt differs from strtoul", text);
    if (!sameDouble(QiParams::parseDouble(t), strtod_l(t, nullptr, cLocale())))
        fail("parseDouble differs from strtod", text);
    if (QiParams::parseBool(t) != cBool(t))
        fail("parseBool differs from its prefixes", text);
}

QiOptInt g_int("Level", "An integer", 7, -100, 1000);
QiOptInt g_narrow("Narrow", "An integer", 500, 1, 255); // default outside the range
QiOptDouble g_double("Gamma", "A real", 2.2, 0.1, 10.0);
QiOptBool g_bool("Flag", "A boolean", true);
QiOptRGB g_rgb("Color", "A colour", 64, 512, 940, true);

void checkDescriptors(const std::string &text)
{
    QiParams p;
    for (const char *k : {"Level", "Narrow", "Gamma", "Flag", "Color_Red", "Color_Blue"})
        p.set(k, text);
    const char *t = text.c_str();
    const int32_t i = QiParams::parseInt(t);
    if (g_int.read(p) != std::max(-100, std::min(1000, i)))
        fail("integer not clamped to its limits", text);
    if (g_narrow.read(p) != std::max(1, std::min(255, i)))
        fail("integer not clamped to its limits", text);
    if (g_narrow.read(QiParams()) != 500)
        fail("an absent integer is not its default", text);
    const double d = QiParams::parseDouble(t);
    const double expected = std::isnan(d) ? 2.2 : std::max(0.1, std::min(10.0, d));
    if (!sameDouble(g_double.read(p), expected))
        fail("real not clamped to its limits", text);
    if (g_bool.read(p) != QiParams::parseBool(t))
        fail("boolean not read by its prefixes", text);
    uint32_t r = 0, g = 0, b = 0;
    const bool all = g_rgb.read(p, r, g, b);
    if (all || r != QiParams::parseUInt(t) || g != 512 || b != QiParams::parseUInt(t))
        fail("RGB components not taken each from its own key", text);
    // A text beginning with "toggle" (any case) inverts the value passed in.
    for (bool current : {false, true}) {
        QiParams q;
        q.set("Flag", text);
        bool v = current;
        const bool toggles = !QiParams::parseBool(t) && strncasecmp_l(t, "toggle", 6, cLocale()) == 0;
        q.getBoolToggle("Flag", v);
        const char *written = nullptr;
        q.get("Flag", written);
        if (v != (QiParams::parseBool(t) || (toggles && !current)) ||
            (toggles && std::string(written) != (v ? "true" : "false")))
            fail("toggle reads or writes back the wrong value", text);
    }
}

void checkEnum(const std::vector<std::string> &texts)
{
    if (texts.size() < 2)
        return;
    std::vector<const char *> values;
    for (size_t i = 0; i + 1 < texts.size(); ++i)
        values.push_back(texts[i].c_str());
    values.push_back(nullptr);
    const unsigned count = static_cast<unsigned>(values.size() - 1);
    const unsigned def = static_cast<unsigned>(texts.back().size()) % count;
    QiOptEnum e("Style", "An enumeration", def, values.data());
    const std::string &asked = texts.back();

    auto same = [](const std::string &a, const std::string &b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            char x = a[i], y = b[i];
            x = x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x;
            y = y >= 'A' && y <= 'Z' ? static_cast<char>(y - 'A' + 'a') : y;
            if (x != y)
                return false;
        }
        return true;
    };
    unsigned first = count;
    for (unsigned i = 0; i < count && first == count; ++i)
        if (same(values[i], asked))
            first = i;

    QiParams p;
    p.set("Style", asked);
    unsigned index = 12345;
    if (!e.read(p, index) || index != (first < count ? first : 12345u))
        fail("enumeration read picks the wrong value", asked);
    unsigned absent = 999;
    if (e.read(QiParams(), absent) || absent != def)
        fail("an absent enumeration is not its default", asked);

    const unsigned start = static_cast<unsigned>(asked.size()) % count;
    unsigned t = start;
    if (!e.readToggle(p, t))
        fail("enumeration toggle says absent", asked);
    if (same(asked, "toggle")) {
        const unsigned next = (start + 1) % count;
        const char *written = nullptr;
        if (t != next || !p.get("Style", written) || written != texts[next])
            fail("toggle does not advance and write the next value", asked);
    } else if (t != (first < count ? first : start)) {
        fail("enumeration readToggle picks the wrong value", asked);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<std::string> texts(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0)
            texts.emplace_back();
        else
            texts.back() += static_cast<char>(data[i]);
    }
    switch (data[0] % 3) {
    case 0:
        for (const std::string &t : texts)
            checkParsers(t);
        break;
    case 1:
        for (const std::string &t : texts)
            checkDescriptors(t);
        break;
    default: checkEnum(texts); break;
    }
    return 0;
}
