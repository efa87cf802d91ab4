#include "OvpColorbars.h"

#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiRaster.h"

#include <vector>

namespace {

const char *const kStyles[] = {"smpte", "fullfield", "splitfield", "3split", nullptr};
enum Style { Smpte, FullField, SplitField, ThreeSplit };

QiOptEnum g_style("Style", "The style of colorbars to render", 0, kStyles);
QiOptInt g_brightness("Brightness", "The brightness value of the colorbars", 75, 0, 100);
const QiOption *const g_options[] = {&g_style, &g_brightness, nullptr};

// Recomputed in full by every render before use.
uint64_t g_bars[7];
uint64_t g_castellations[7];
uint64_t g_chips[6]; // -I, white, +Q, background, pluge below, pluge above

void computeColours(const QiRaster &r, int32_t brightness)
{
    const uint32_t k = static_cast<uint32_t>(r.blackLevel());
    const uint32_t l = static_cast<uint32_t>(ovPercent(r, brightness));
    const int s = r.bits() - 8;
    auto fixed = [&](uint32_t red, uint32_t green, uint32_t blue) {
        return r.pack(red << s, green << s, blue << s);
    };
    const uint64_t grey = r.pack(l, l, l), yellow = r.pack(l, l, k), cyan = r.pack(k, l, l),
                   green = r.pack(k, l, k), magenta = r.pack(l, k, l), red = r.pack(l, k, k),
                   blue = r.pack(k, k, l), black = r.pack(k, k, k);
    const uint64_t bars[7] = {grey, yellow, cyan, green, magenta, red, blue};
    const uint64_t cast[7] = {blue, black, magenta, black, cyan, black, grey};
    const uint64_t chips[6] = {fixed(0, 16, 64), grey, fixed(32, 0, 96), black, fixed(7, 7, 7), fixed(25, 25, 25)};
    for (int i = 0; i < 7; ++i) {
        g_bars[i] = bars[i];
        g_castellations[i] = cast[i];
    }
    for (int i = 0; i < 6; ++i)
        g_chips[i] = chips[i];
}

// Bar i of seven across the width, over rows y .. y+h-1; reversed puts bar
// i where bar 6-i would be.
void addBars(std::vector<OvRect> &rects, int32_t width, const uint64_t *colours, int32_t y, int32_t h,
             bool reversed)
{
    for (int i = 0; i < 7; ++i) {
        const OvSpan bar = ovSplit(width, reversed ? 6 - i : i, 7);
        rects.push_back({colours[i], bar.start, y, bar.length(), h});
    }
}

} // namespace

OvpColorbars::OvpColorbars() : OvPatternRenderer(g_options, "$Revision: 1.13 $") {}

bool OvpColorbars::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(),
                             {{"fullfield", {{"Style", "fullfield"}}},
                              {"splitfield", {{"Style", "splitfield"}}},
                              {"3split", {{"Style", "3split"}}},
                              {"SMPTEBars", {{"Style", "smpte"}}}});
}

bool OvpColorbars::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    const unsigned style = ovEnum(g_style, params);
    const int32_t brightness = g_brightness.read(params);

    ovBeginFrame(*raster);
    computeColours(*raster, brightness);

    QiRaster &r = *raster;
    const int32_t w = r.width(), h = r.height();
    // Composed a row at a time and painted in one pass: seven narrow
    // columns filled one after another would cross every row seven times.
    std::vector<OvRect> rects;
    switch (style) {
    case FullField:
        addBars(rects, w, g_bars, 0, h, false);
        break;
    case SplitField:
        addBars(rects, w, g_bars, 0, h / 2, false);
        addBars(rects, w, g_bars, h / 2, h - h / 2, true);
        break;
    case ThreeSplit:
        addBars(rects, w, g_bars, 0, h / 3, false);
        addBars(rects, w, g_bars, h / 3, (2 * h) / 3 - h / 3, true);
        addBars(rects, w, g_bars, (2 * h) / 3, h - (2 * h) / 3, false);
        break;
    default: {
        const int32_t top = h * 6 / 10, y0 = (8 * h) / 10;
        addBars(rects, w, g_bars, 0, top, false);
        addBars(rects, w, g_castellations, top, y0 - top, false);
        rects.push_back({g_chips[3], 0, y0, w, h - y0});
        for (int i = 0; i < 3; ++i) {
            const OvSpan chip = ovSplit(w, i, 6);
            rects.push_back({g_chips[i], chip.start, y0, chip.length(), h - y0});
        }
        rects.push_back({g_chips[4], (15 * w) / 21, y0, (16 * w) / 21 - (15 * w) / 21, h - y0});
        rects.push_back({g_chips[5], (17 * w) / 21, y0, (18 * w) / 21 - (17 * w) / 21, h - y0});
        break;
    }
    }
    ovPaintRects(r, rects);

    ovFinishFrame(engine, r, name());
    return true;
}
