#include "OvpVerticalBar.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptBool.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <vector>

namespace {

const char *const kStyles[] = {"2color", "wrgbcmyk", nullptr};
enum Style { TwoColor, Wrgbcmyk };

constexpr int32_t kWidthDefault = 5, kOffsetDefault = 0;

QiOptEnum g_style("style", "The style of colorbars to render", TwoColor, kStyles);
// Maxima follow the frame width from the first render on.
QiOptInt g_width("width", "The number of pixels in a vertical stripe", kWidthDefault, 1, 1536);
QiOptInt g_offset("offset", "Start the stripes this number of pixels from the left edge", kOffsetDefault, 0, 1536);
QiOptRGB g_hiColor("hiColor", "The RGB color of the high patches", 940, 940, 940, false);
QiOptRGB g_loColor("loColor", "The RGB color of the low patch", 64, 64, 64, false);
QiOptBool g_invert("invert", "Interchange the high and low stripes", false);
const QiOption *const g_options[] = {&g_style, &g_width, &g_offset, &g_hiColor, &g_loColor, &g_invert, nullptr};

} // namespace

OvpVerticalBar::OvpVerticalBar() : OvPatternRenderer(g_options, "$Revision $") {}

bool OvpVerticalBar::registerAliases(OvCore *engine)
{
    const QiRaster *r = engine ? engine->raster() : nullptr;
    if (r) {
        ovSetDefaultGrey(g_hiColor, r->whiteLevel());
        ovSetDefaultGrey(g_loColor, r->blackLevel());
    }
    return true;
}

bool OvpVerticalBar::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    ovBeginFrame(r);
    const int32_t w = r.width(), h = r.height();
    g_width.setLimits(kWidthDefault, 1, w);
    g_offset.setLimits(kOffsetDefault, 0, w);
    const int64_t width = g_width.read(params);
    const int64_t offset = g_offset.read(params);
    const uint64_t lo = ovReadColour(r, g_loColor, params);
    const uint64_t hi = ovReadColour(r, g_hiColor, params);
    const bool invert = g_invert.read(params);
    const unsigned style = ovEnum(g_style, params);

    const uint32_t k = static_cast<uint32_t>(r.blackLevel()), wl = static_cast<uint32_t>(r.whiteLevel());
    const uint64_t eight[8] = {r.pack(wl, wl, wl), r.pack(wl, k, k), r.pack(k, wl, k), r.pack(k, k, wl),
                               r.pack(k, wl, wl), r.pack(wl, k, wl), r.pack(wl, wl, k), r.pack(k, k, k)};
    const uint64_t two[2] = {lo, hi};
    const uint64_t *list = style == Wrgbcmyk ? eight : two;
    const size_t length = style == Wrgbcmyk ? 8 : 2;

    // Every row is the same: columns left of the offset black, then the
    // stripes, the last one cut at the edge. width is at least 1.
    std::vector<uint64_t> row(static_cast<size_t>(std::max(w, 0)), r.pack(k, k, k));
    size_t s = invert ? 1 : 0;
    for (int64_t x = std::max<int64_t>(offset, 0); x < w; x += width, ++s)
        std::fill(row.begin() + x, row.begin() + std::min<int64_t>(x + width, w), list[s % length]);
    ovFillRows(r, row.data(), 0, w, 0, h);

    ovFinishFrame(engine, r, name());
    return true;
}
