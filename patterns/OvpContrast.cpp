#include "OvpContrast.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Rewritten at registration: min(2^n - 1, 1020).
QiOptRGB g_bgLevel("bgLevel", "The color/level of the patch behind the swatches", 255, 255, 255, false);
const QiOption *const g_options[] = {&g_bgLevel, nullptr};

} // namespace

OvpContrast::OvpContrast() : OvPatternRenderer(g_options, "$Revision: 1.10 $") {}

bool OvpContrast::registerAliases(OvCore *engine)
{
    if (const QiRaster *r = engine->raster()) {
        const int32_t level = static_cast<int32_t>(std::min<uint32_t>(r->mask(), 1020));
        g_bgLevel.defaultRed = g_bgLevel.defaultGreen = g_bgLevel.defaultBlue = level;
    }
    return true;
}

bool OvpContrast::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const uint64_t bgLevel = ovReadColour(r, g_bgLevel, params);
    ovBeginFrame(r);

    const int s = r.bits() - 8;
    const int32_t w = r.width(), h = r.height();
    const OvSpan upper = ovRange(h, 7, 13, 27), lower = ovRange(h, 14, 20, 27);
    std::vector<OvRect> rects;
    rects.push_back({ovGrey(r, static_cast<uint32_t>(r.blackLevel())), 0, 0, w, h});
    rects.push_back({bgLevel, w * 10 / 71, h * 6 / 27, w * 53 / 71, h * 15 / 27});
    for (int k = 0; k < 12; ++k) {
        const OvSpan column = ovSwatchColumn(w, k);
        rects.push_back({ovGrey(r, (231u + k) << s), column.start, upper.start, column.length(), upper.length()});
        rects.push_back({ovGrey(r, (243u + k) << s), column.start, lower.start, column.length(), lower.length()});
    }
    ovPaintRects(r, rects);

    // Labels after the fills: see the brightness swatches.
    const uint64_t labelColour = ovGrey(r, ovFixed8(r, 192));
    for (int k = 0; k < 12; ++k) {
        const uint32_t u = (231u + k) << s, v = (243u + k) << s;
        const int32_t x = ovSwatchLabelX(w, k);
        ovDrawLabel(engine, r, std::to_string(u).c_str(), labelColour, x, h * 10 / 27);
        if (u == 235 || u == 940)
            ovDrawLabel(engine, r, "100%", labelColour, x, h * 12 / 27);
        ovDrawLabel(engine, r, std::to_string(v).c_str(), labelColour, x, h * 17 / 27);
    }

    ovFinishFrame(engine, r, name());
    return true;
}
