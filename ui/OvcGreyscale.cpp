#include "OvcGreyscale.h"

#include <charconv>
#include <cstdio>

namespace {

// "%f" as the C locale writes it, whatever the process locale is.
std::string fixed6(double v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

} // namespace

OvcGreyscale::OvcGreyscale() : OvCtlObject("Pattern", "Window")
{
    const std::string grey = std::to_string(76);
    m_params.set("Color_Red", grey);
    m_params.set("Color_Green", grey);
    m_params.set("Color_Blue", grey);
    m_params.set("Size", std::to_string(10));
}

int32_t OvcGreyscale::step(const QiParams &request, int direction, std::string *line)
{
    int32_t v = 0;
    request.getInt("Color_Red", v);
    // Round to the nearest step, then move one step.
    const int32_t n = static_cast<int32_t>((static_cast<double>(v) - 16.0) / kStep + 0.5);
    const double x = (static_cast<double>(n) + direction) * kStep + 16.5;
    // Wrapping decided on x itself: a far-off v must not overflow the cast.
    int32_t c;
    if (x >= 236.0)
        c = 16;
    else if (x < 16.0)
        c = 235;
    else
        c = static_cast<int32_t>(x);
    if (line)
        *line = "gv(" + fixed6(kStep) + ") => " + std::to_string(v) + " => " + std::to_string(n) + " => " +
                std::to_string(n + direction) + " => " + fixed6(x) + " => " + std::to_string(c) + "\n";
    return c;
}

void OvcGreyscale::apply(const QiParams &request, int direction)
{
    std::string line;
    const std::string c = std::to_string(step(request, direction, &line));
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    m_params.set("Color_Blue", c);
    m_params.set("Color_Green", c);
    m_params.set("Color_Red", c);
}

void OvcGreyscale::next(const QiParams &request) { apply(request, +1); }

void OvcGreyscale::prev(const QiParams &request) { apply(request, -1); }

bool OvcGreyscale::matches(const QiParams &request) const
{
    if (!OvCtlObject::matches(request))
        return false;
    const std::string r = text(request, "Color_Red");
    return r == text(request, "Color_Green") && r == text(request, "Color_Blue");
}
