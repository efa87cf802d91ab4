#include "OvWindowLevels.h"

const std::vector<std::string> &OvWindowLevels::sizes()
{
    static const std::vector<std::string> v{"10%", "18%", "100%"};
    return v;
}

const std::vector<std::string> &OvWindowLevels::steps()
{
    static const std::vector<std::string> v{"11", "17", "21", "33"};
    return v;
}

const std::vector<std::string> &OvWindowLevels::colors()
{
    static const std::vector<std::string> v{"Red", "Green", "Blue", "Cyan", "Magenta", "Yellow"};
    return v;
}

std::vector<int32_t> OvWindowLevels::levels(int32_t black, int32_t white, int count)
{
    std::vector<int32_t> out;
    if (count < 1)
        return out;
    out.reserve(static_cast<size_t>(count));
    // 64 bits: the product overflows 32 for wide ranges and many steps.
    const int64_t span = static_cast<int64_t>(white) - black;
    for (int i = 0; i < count; ++i)
        out.push_back(count > 1 ? static_cast<int32_t>(black + (i * span) / (count - 1)) : black);
    return out;
}

QiParams OvWindowLevels::request(const std::string &size, const std::string &level, int32_t black, int color)
{
    QiParams p;
    p.set("Pattern", "Window");
    p.set("Size", size);
    const std::string dark = std::to_string(black);
    const int k = color;
    p.set("Color_Red", (k == 0 || k == 4 || k == 5 || k == kWhite) ? level : dark);
    p.set("Color_Green", (k == 1 || k == 3 || k == 5 || k == kWhite) ? level : dark);
    p.set("Color_Blue", (k == 2 || k == 3 || k == 4 || k == kWhite) ? level : dark);
    return p;
}
