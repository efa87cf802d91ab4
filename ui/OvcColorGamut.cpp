#include "OvcColorGamut.h"

#include <cstdio>

OvcColorGamut::OvcColorGamut() : OvCtlObject("Pattern", "Window")
{
    m_params.set("Color_Red", "0xff");
    m_params.set("Color_Green", "0");
    m_params.set("Color_Blue", "0");
    m_params.set("Size", "10");
}

void OvcColorGamut::next(const QiParams &)
{
    std::fputs("GamutNext => Current ()\n", stdout);
    std::fflush(stdout);
}

void OvcColorGamut::prev(const QiParams &)
{
    std::fputs("GamutPrev => Current ()\n", stdout);
    std::fflush(stdout);
}

bool OvcColorGamut::matches(const QiParams &request) const
{
    if (!OvCtlObject::matches(request))
        return false;
    const std::string r = text(request, "Color_Red");
    return !(r == text(request, "Color_Green") && r == text(request, "Color_Blue"));
}
