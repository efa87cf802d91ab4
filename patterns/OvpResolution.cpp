#include "OvpResolution.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <vector>

namespace {

const char *const kStyles[] = {"VLines", "HLines", "Pixels", nullptr};
enum Style { VLines, HLines, Pixels };

QiOptEnum g_style("Style", "The Pattern style", VLines, kStyles);
QiOptRGB g_low("LowColor", "The RGB Low Color", 64, 64, 64, false);
QiOptRGB g_high("HiColor", "The RGB High color", 940, 940, 940, false);
const QiOption *const g_options[] = {&g_style, &g_low, &g_high, nullptr};

} // namespace

OvpResolution::OvpResolution() : OvPatternRenderer(g_options, "$Revision: 1.4 $") {}

bool OvpResolution::registerAliases(OvCore *engine)
{
    const QiRaster *r = engine ? engine->raster() : nullptr;
    if (r) {
        ovSetDefaultGrey(g_low, r->blackLevel());
        ovSetDefaultGrey(g_high, r->whiteLevel());
    }
    return true;
}

bool OvpResolution::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    ovBeginFrame(r);
    const unsigned style = ovEnum(g_style, params);
    const uint64_t low = ovReadColour(r, g_low, params);
    const uint64_t high = ovReadColour(r, g_high, params);

    const int32_t w = r.width(), h = r.height();
    // Lines sit on even columns (rows); W/2 (H/2) of them, so an odd last
    // column (row) keeps the low colour.
    std::vector<uint64_t> even(static_cast<size_t>(w), low), odd(static_cast<size_t>(w), low);
    switch (style) {
    case HLines: {
        std::fill(even.begin(), even.end(), high);
        const int32_t lastLine = 2 * (h / 2);
        ovCopyRows(r, 0, h, [&](int32_t y) { return (y % 2 == 0 && y < lastLine) ? even.data() : odd.data(); });
        break;
    }
    case Pixels:
        // x + y even is high: even rows start high, odd rows start low.
        for (int32_t x = 0; x < w; ++x)
            (x % 2 == 0 ? even : odd)[static_cast<size_t>(x)] = high;
        ovCopyRows(r, 0, h, [&](int32_t y) { return y % 2 == 0 ? even.data() : odd.data(); });
        break;
    default:
        for (int32_t i = 0; i < w / 2; ++i)
            even[static_cast<size_t>(2 * i)] = high;
        ovFillRows(r, even.data(), 0, w, 0, h);
        break;
    }

    ovFinishFrame(engine, r, name());
    return true;
}
