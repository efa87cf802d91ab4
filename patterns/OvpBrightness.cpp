#include "OvpBrightness.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char *const kStyles[] = {"Blinking", "Static", "Testing", nullptr};
enum Style { Blinking, Static, Testing };

QiOptRGB g_bgLevel("bgLevel", "The color/level of the patch behind the swatches in the static style", 0, 0, 0,
                   false);
QiOptEnum g_style("Style", "The Pattern style", Static, kStyles);
QiOptInt g_bracket("Bracket", "The amount above and below the black level to display", 16, 0, 50);
const QiOption *const g_options[] = {&g_bgLevel, &g_style, &g_bracket, nullptr};

// Milliseconds each of the two frames stays on screen.
constexpr int32_t kBlinkPeriod = 750;

// A rectangle given in 20ths of the frame.
OvRect twentieths(const QiRaster &r, uint64_t colour, int x0, int x1, int y0, int y1)
{
    const OvSpan x = ovRange(r.width(), x0, x1, 20), y = ovRange(r.height(), y0, y1, 20);
    return {colour, x.start, y.start, x.length(), y.length()};
}

void drawStatic(OvCore *engine, QiRaster &r, uint64_t bgLevel)
{
    const int s = r.bits() - 8;
    const int32_t w = r.width(), h = r.height();
    const OvSpan upper = ovRange(h, 7, 13, 27), lower = ovRange(h, 14, 20, 27);
    std::vector<OvRect> rects;
    rects.push_back({bgLevel, 0, 0, w, h});
    for (int k = 0; k < 12; ++k) {
        const OvSpan column = ovSwatchColumn(w, k);
        rects.push_back({ovGrey(r, (1u + k) << s), column.start, upper.start, column.length(), upper.length()});
        rects.push_back({ovGrey(r, (13u + k) << s), column.start, lower.start, column.length(), lower.length()});
    }
    ovPaintRects(r, rects);

    // On a frame wider than tall a label stays within its column and the
    // gaps beside it, so labels drawn after all the fills give the frame
    // that fills and labels drawn column by column give.
    const uint64_t labelColour = ovGrey(r, ovFixed8(r, 64));
    for (int k = 0; k < 12; ++k) {
        const uint32_t u = (1u + k) << s, v = (13u + k) << s;
        const int32_t x = ovSwatchLabelX(w, k);
        ovDrawLabel(engine, r, std::to_string(u).c_str(), labelColour, x, h * 10 / 27);
        ovDrawLabel(engine, r, std::to_string(v).c_str(), labelColour, x, h * 17 / 27);
        if (v == 16 || v == 64)
            ovDrawLabel(engine, r, "0%", labelColour, x, h * 19 / 27);
    }
}

} // namespace

OvpBrightness::OvpBrightness() : OvPatternRenderer(g_options, "$Revision: 1.14 $") {}

bool OvpBrightness::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const uint64_t bgLevel = ovReadColour(r, g_bgLevel, params);
    const unsigned style = ovEnum(g_style, params);
    const int32_t bracket = g_bracket.read(params);

    if (style == Static) {
        ovBeginFrame(r);
        framePeriod = 0;
        drawStatic(engine, r, bgLevel);
        ovFinishFrame(engine, r, name());
        return true;
    }

    ovBeginFrame(r, 2);
    framePeriod = kBlinkPeriod;
    const int64_t k = r.blackLevel(), white = r.whiteLevel();
    // The bracket straddles black: K - d (not below code 0) and K + d, so
    // at full range 0 and d.
    const int64_t d = (white - k) * bracket / 100;
    const uint64_t black = ovGrey(r, static_cast<uint32_t>(k)), whiteGrey = ovGrey(r, static_cast<uint32_t>(white));
    const uint64_t low = ovGrey(r, static_cast<uint32_t>(std::max<int64_t>(k - d, 0)));
    const uint64_t high = ovGrey(r, static_cast<uint32_t>(k + d));
    for (int32_t f = 0; f < 2; ++f) {
        uint64_t outer, inner;
        if (style == Blinking) {
            outer = f == 0 ? low : black;
            inner = f == 0 ? black : high;
        } else {
            outer = f == 0 ? black : whiteGrey;
            inner = f == 0 ? whiteGrey : black;
        }
        ovPaintRects(r, {{black, 0, 0, r.width(), r.height()},
                         twentieths(r, outer, 1, 19, 1, 2),
                         twentieths(r, outer, 1, 19, 18, 19),
                         twentieths(r, outer, 1, 3, 2, 18),
                         twentieths(r, outer, 17, 19, 2, 18),
                         twentieths(r, inner, 5, 15, 3, 4),
                         twentieths(r, inner, 5, 15, 16, 17),
                         twentieths(r, inner, 5, 7, 4, 16),
                         twentieths(r, inner, 13, 15, 4, 16)});
        ovFinishFrame(engine, r, name(), nullptr, f);
    }
    return true;
}
