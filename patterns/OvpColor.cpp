#include "OvpColor.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiRaster.h"

#include <vector>

namespace {

const char *const kStyles[] = {"Static", nullptr};
enum Style { Static };

QiOptInt g_brightness("Brightness", "The brightness level of the color/tint pattern", 75, 0, 100);
QiOptEnum g_style("Style", "The style pattern to use", Static, kStyles);
const QiOption *const g_options[] = {&g_brightness, &g_style, nullptr};

// The four cells of a column, top to bottom, in 27ths of the height.
const int kCellRows[4][2] = {{7, 10}, {10, 13}, {14, 17}, {17, 20}};

} // namespace

OvpColor::OvpColor() : OvPatternRenderer(g_options, "$Revision: 1.8 $") {}

bool OvpColor::registerAliases(OvCore *engine) { return ovRegisterAliases(engine, name(), {{"Tint", {}}}); }

bool OvpColor::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t brightness = g_brightness.read(params);
    const unsigned style = ovEnum(g_style, params);
    ovBeginFrame(r);

    const uint32_t k = static_cast<uint32_t>(r.blackLevel()), l = static_cast<uint32_t>(ovPercent(r, brightness));
    // Blue, grey, cyan, magenta.
    const uint64_t table[4] = {r.pack(k, k, l), r.pack(l, l, l), r.pack(k, l, l), r.pack(l, k, l)};
    const int32_t w = r.width(), h = r.height();
    std::vector<OvRect> rects;
    rects.push_back({ovGrey(r, k), 0, 0, w, h});
    if (style == Static) {
        for (int col = 0; col < 12; ++col) {
            const OvSpan column = ovSwatchColumn(w, col);
            const int m = 2 + col;
            const int order[4] = {(m + 1) % 4, m % 4, (m + 2) % 4, (m + 3) % 4};
            for (int cell = 0; cell < 4; ++cell) {
                const OvSpan rows = ovRange(h, kCellRows[cell][0], kCellRows[cell][1], 27);
                rects.push_back({table[order[cell]], column.start, rows.start, column.length(), rows.length()});
            }
        }
    }
    ovPaintRects(r, rects);

    ovFinishFrame(engine, r, name());
    return true;
}
