#include "OvpWindows.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptBool.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const char *const kStyles[] = {"Constant Size", "Constant APL", nullptr};
enum Style { ConstantSize, ConstantApl };

QiOptEnum g_style("Style", "The Style to use to render windows", ConstantSize, kStyles);
QiOptInt g_size("Size", "The size of the windows, as a percentage of full screen", 100, 0, 100,
                ovShownWhen("Style", "Constant Size"));
QiOptInt g_apl("APL", "The average picture level windows", 15, 1, 99, ovShownWhen("Style", "Constant APL"));
// Grey defaults, rewritten from the raster's levels at registration.
QiOptRGB g_color("Color", "The color of the window", 128, 128, 128, false);
QiOptRGB g_bgColor("BgColor", "The background color", 0, 0, 0, false, ovShownWhen("Style", "Constant Size"));
QiOptInt g_xOffset("xOffset", "The horizontal position of the window in percentages (default is centered)", 50, 0,
                   100);
QiOptInt g_yOffset("yOffset", "The vertical position of the window in percentages (default is centered)", 50, 0,
                   100);
QiOptBool g_loPluge("loPluge", "Display low level pluge bars", false, ovShownWhen("Style", "Constant Size"));
QiOptBool g_hiPluge("hiPluge", "Display high level pluge bars", false, ovShownWhen("Style", "Constant Size"));
QiOptBool g_gridLines("gridLines", "Overlay gridlines on the pattern", false);
QiOptInt g_hDiv("hDiv", "The number of horzontal divisions", 5, 2, 480, ovShownWhen("gridLines", "true"));
QiOptInt g_vDiv("vDiv", "The number of veritcal divisions", 5, 2, 480, ovShownWhen("gridLines", "true"));
const QiOption *const g_options[] = {&g_style,   &g_size,    &g_apl,     &g_color,     &g_bgColor,
                                     &g_xOffset, &g_yOffset, &g_loPluge, &g_hiPluge,   &g_gridLines,
                                     &g_hDiv,    &g_vDiv,    nullptr};

// 8-bit pluge levels, top to bottom.
const uint32_t kLowPluge[5] = {0, 8, 16, 24, 32};
const uint32_t kHighPluge[5] = {215, 225, 235, 245, 255};

// trunc(sqrt(n)), exact for every 64-bit n.
int64_t isqrt(int64_t n)
{
    if (n <= 0)
        return 0;
    int64_t s = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (s > 0 && s > n / s)
        --s;
    while (s + 1 <= n / (s + 1))
        ++s;
    return s;
}

// Truncation toward zero, held to the int32 range (colours a client sends
// unchecked can make the APL arithmetic huge).
int32_t truncInt(double v)
{
    if (!(v > -2147483648.0))
        return std::numeric_limits<int32_t>::min();
    if (!(v < 2147483648.0))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

// "%0.0lf" in the C locale.
std::string fixed0(double v)
{
    char text[400];
    const auto res = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 0);
    return res.ec == std::errc() ? std::string(text, res.ptr) : std::string();
}

} // namespace

OvpWindows::OvpWindows() : OvPatternRenderer(g_options, "$Revision: 1.9 $") {}

bool OvpWindows::registerAliases(OvCore *engine)
{
    const QiRaster *r = engine->raster();
    const int32_t k = r ? r->blackLevel() : 0, w = r ? r->whiteLevel() : 255;
    g_color.defaultRed = g_color.defaultGreen = g_color.defaultBlue = k + (w - k) / 2;
    g_bgColor.defaultRed = g_bgColor.defaultGreen = g_bgColor.defaultBlue = k;
    const std::string at30 = std::to_string(k + (int64_t{w} - k) * 30 / 100);
    const std::string at80 = std::to_string(k + (int64_t{w} - k) * 80 / 100);
    return ovRegisterAliases(
        engine, name(),
        {{"Raster", {{"Size", "100"}}},
         {"Window16.30",
          {{"Size", "16"}, {"Color_Red", at30.c_str()}, {"Color_Green", at30.c_str()}, {"Color_Blue", at30.c_str()}}},
         {"Window16.80",
          {{"Size", "16"}, {"Color_Red", at80.c_str()}, {"Color_Green", at80.c_str()}, {"Color_Blue", at80.c_str()}}}});
}

double OvpWindows::pqNits(double x)
{
    const double y = std::fabs(x);
    const double p = std::pow(y, 32.0 / 2523.0);
    const double l = 10000.0 * std::pow(std::max(p - 0.8359375, 0.0) / (18.8515625 - 18.6875 * p), 16384.0 / 2610.0);
    return x >= 0 ? l : -l;
}

char *OvpWindows::formatNits(char *buffer, size_t size, double value)
{
    if (!buffer || size == 0)
        return buffer;
    const int precision = value >= 10 ? 0 : (value >= 1 ? 1 : 2);
    // Wide enough for any double in fixed form with two decimals.
    char text[400];
    auto res = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    size_t n = res.ec == std::errc() ? static_cast<size_t>(res.ptr - text) : sizeof text;
    // What does not fit is written shorter rather than cut to a wrong number.
    for (int digits = 2; n >= size && digits >= 0; --digits) {
        res = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits);
        n = res.ec == std::errc() ? static_cast<size_t>(res.ptr - text) : sizeof text;
    }
    n = std::min(n, size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return buffer;
}

bool OvpWindows::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const unsigned style = ovEnum(g_style, params);
    uint32_t red, green, blue, bgRed, bgGreen, bgBlue;
    g_color.read(params, red, green, blue);
    g_bgColor.read(params, bgRed, bgGreen, bgBlue);
    int32_t size = g_size.read(params);
    const int32_t apl = g_apl.read(params);
    const int32_t xOffset = g_xOffset.read(params), yOffset = g_yOffset.read(params);
    bool loPluge = g_loPluge.read(params), hiPluge = g_hiPluge.read(params);
    const bool gridLines = g_gridLines.read(params);
    const int32_t hDiv = g_hDiv.read(params), vDiv = g_vDiv.read(params);

    const int64_t k = r.blackLevel(), white = r.whiteLevel();
    // The range plus one: a white window is (W - K)/(W - K + 1), just below 1.
    const double d = static_cast<double>(white - k + 1);
    // Components as the caption's %d shows them.
    const int64_t rv = static_cast<int32_t>(red), gv = static_cast<int32_t>(green), bv = static_cast<int32_t>(blue);
    auto relative = [&](int64_t cr, int64_t cg, int64_t cb) {
        return static_cast<double>(cg - k) * 0.7152 / d + static_cast<double>(cr - k) * 0.2126 / d +
               static_cast<double>(cb - k) * 0.0722 / d;
    };
    const double j = relative(rv, gv, bv);
    double f;
    uint64_t background;
    if (style == ConstantApl) {
        hiPluge = false;
        size = 5;
        loPluge = false;
        // 90: the area left by the 5% window and the 5% black ring.
        f = (apl - 5 * j) / 90;
        const int64_t top = r.mask();
        int64_t b = truncInt(d * f + static_cast<double>(k));
        // An APL the window alone exceeds leaves the background at black,
        // and one beyond reach tops it at the highest code; the reported
        // APL then says what is drawn.
        if (b < k || b > top) {
            b = std::clamp<int64_t>(b, k, top);
            f = relative(b, b, b);
        }
        background = ovGrey(r, static_cast<uint32_t>(b));
    } else {
        f = relative(static_cast<int32_t>(bgRed), static_cast<int32_t>(bgGreen), static_cast<int32_t>(bgBlue));
        background = r.pack(bgRed, bgGreen, bgBlue);
    }
    const int32_t reportedApl = truncInt((100 - size) * f + size * j);

    // Caption.
    const bool tenBit = white > 255;
    const int64_t lo = tenBit ? 64 : 16, hi = tenBit ? 940 : 235, max = tenBit ? 1023 : 255;
    std::string caption;
    if (rv == gv && gv == bv) {
        const double tv = static_cast<double>(rv - lo) / static_cast<double>(hi - lo);
        const double pc = static_cast<double>(rv) / static_cast<double>(max);
        char nits[10];
        caption = "RGB: " + std::to_string(rv) + ", TV: " + fixed0(tv * 100) + "% [PQ: " +
                  formatNits(nits, sizeof nits, pqNits(tv)) + " nit], PC: " + fixed0(pc * 100) + "% [APL " +
                  std::to_string(reportedApl) + "]";
    } else {
        caption = "R: " + std::to_string(rv) + ", G: " + std::to_string(gv) + ", B: " + std::to_string(bv) +
                  " [APL " + std::to_string(reportedApl) + "]";
    }
    if (caption.size() > 255)
        caption.resize(255);

    // Drawing; rectangles past the frame edge are cut to it.
    const int64_t width = r.width(), height = r.height();
    std::vector<OvRect> rects;
    rects.push_back({background, 0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)});
    const int32_t cx = static_cast<int32_t>(width * xOffset / 100), cy = static_cast<int32_t>(height * yOffset / 100);
    auto centred = [&](uint64_t colour, int32_t percent) {
        const int32_t w = static_cast<int32_t>(isqrt(width * width * percent / 100));
        const int32_t h = static_cast<int32_t>(isqrt(height * height * percent / 100));
        return OvRect{colour, cx - w / 2, cy - h / 2, w, h};
    };
    if (style == ConstantApl)
        rects.push_back(centred(ovGrey(r, static_cast<uint32_t>(k)), size + 5));
    rects.push_back(centred(r.pack(red, green, blue), size));
    const int32_t pw = static_cast<int32_t>(width * 12 / 100), ph = static_cast<int32_t>(height * 5 / 100);
    for (int o = 0; o < 5; ++o) {
        const int32_t y = static_cast<int32_t>(height * 50 / 100) + o * ph - (5 * ph) / 2;
        if (loPluge)
            rects.push_back({ovGrey(r, ovFixed8(r, kLowPluge[o])), static_cast<int32_t>(width * 20 / 100) - pw / 2,
                             y, pw, ph});
        if (hiPluge)
            rects.push_back({ovGrey(r, ovFixed8(r, kHighPluge[o])), static_cast<int32_t>(width * 80 / 100) - pw / 2,
                             y, pw, ph});
    }
    const uint64_t gridColour =
        r.pack(ovFixed8(r, 128), static_cast<uint32_t>(white), static_cast<uint32_t>(white));
    if (gridLines) {
        for (int64_t i = 0; i < vDiv; ++i)
            rects.push_back({gridColour, static_cast<int32_t>(i * width / vDiv), 0, 1, static_cast<int32_t>(height)});
    }
    ovPaintRects(r, rects);
    // Horizontal lines after the rest: each is one whole row in the grid
    // colour, which the vertical lines share.
    if (gridLines) {
        for (int64_t i = 0; i < hDiv; ++i)
            r.fillRect(gridColour, 0, static_cast<int32_t>(i * height / hDiv), static_cast<int32_t>(width), 1);
    }

    if (engine)
        engine->drawTitle(name(), caption.c_str(), &r);
    // Prepared after drawing, and the text-blend mode is left as it is.
    r.setBufferCount(1);
    framePeriod = 0;
    r.render(0, true);
    return true;
}
