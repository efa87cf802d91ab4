#include "QiOptRGB.h"

QiOptRGB::QiOptRGB(const char *n, const char *d, int32_t r, int32_t g, int32_t b, bool isRgb, const QiLayout &l)
    : QiOption(n, d, RGB, l), defaultRed(r), defaultGreen(g), defaultBlue(b), defaultIsRGB(isRgb)
{
}

bool QiOptRGB::describe(QiParams &out) const
{
    QiOption::describe(out);
    out.setInt("DefaultValueR", defaultRed);
    out.setInt("DefaultValueG", defaultGreen);
    out.setInt("DefaultValueB", defaultBlue);
    out.set("DefaultIsRGB", defaultIsRGB ? "true" : "false");
    return true;
}

bool QiOptRGB::read(const QiParams &params, uint32_t &red, uint32_t &green, uint32_t &blue) const
{
    red = static_cast<uint32_t>(defaultRed);
    green = static_cast<uint32_t>(defaultGreen);
    blue = static_cast<uint32_t>(defaultBlue);
    std::string stem(name);
    bool r = params.getUInt(stem + "_Red", red);
    bool g = params.getUInt(stem + "_Green", green);
    bool b = params.getUInt(stem + "_Blue", blue);
    return r && g && b;
}
