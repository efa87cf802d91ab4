#include "OvpSharpness.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiFont.h"
#include "QiLog.h"
#include "QiOptEnum.h"
#include "QiRaster.h"

#include <vector>

namespace {

const char *const kStyles[] = {"gridlines", "multiburst", nullptr};
enum Style { GridLines, Multiburst };

QiOptEnum g_style("Style", "The sharpness style to use.", GridLines, kStyles);
const QiOption *const g_options[] = {&g_style, nullptr};

int32_t i32(int64_t v) { return static_cast<int32_t>(v); }

// Bars 1..5 pixels wide (odd widths) down and across the middle three
// quarters, and four line grids of 12x6 and 20x10 cells around the centre.
void drawGridLines(QiRaster &r, uint64_t grey, uint64_t black)
{
    const int64_t W = r.width(), H = r.height();
    r.fill(grey);
    for (int64_t i = 1; i <= 5; ++i) {
        r.fillRect(black, i32(i * W / 8 + W / 8), i32(H / 8), i32(2 * i - 1), i32(H * 3 / 4));
        r.fillRect(black, i32(W / 8), i32(i * H / 8 + H / 8), i32(W * 3 / 4), i32(2 * i - 1));
    }
    const int64_t e = W * 7 / 64, f = H * 7 / 64;
    struct Grid {
        int64_t x0, y0, columns, rows, gx, gy;
    };
    const Grid grids[] = {
        {W * 49 / 128 + 1, H * 49 / 128 + 2, 12, 6, W * 15 / 3072, H * 15 / 1536},
        {W * 65 / 128 + 1, H * 65 / 128 + 2, 12, 6, W * 15 / 3072, H * 15 / 1536},
        {W * 49 / 128 + 1, H * 65 / 128 + 2, 20, 10, W * 15 / 5120, H * 15 / 2560},
        {W * 65 / 128 + 2, H * 49 / 128 + 2, 20, 10, W * 15 / 5120, H * 15 / 2560},
    };
    for (const Grid &g : grids)
        r.drawGrid(black, i32(g.x0), i32(g.y0), i32(e), i32(f), i32(g.columns), i32(g.rows), i32(g.gx), i32(g.gy));
}

// Six bursts across the top half; burst b has p[b] stripes, alternately
// white and black, p[5] about a sixth of the width and each burst to the
// left half as many.
void drawMultiburst(OvCore *engine, QiRaster &r, uint64_t grey, uint64_t black)
{
    const int32_t w = r.width(), h = r.height();
    const int64_t W = w, H = h;
    const uint32_t wl = static_cast<uint32_t>(r.whiteLevel());
    const uint64_t white = r.pack(wl, wl, wl);

    int64_t p[6];
    p[5] = W - (W * 5) / 6;
    for (int i = 4; i >= 0; --i)
        p[i] = p[i + 1] / 2;
    for (int i = 0; i < 6; ++i)
        qiLog(2, "mbDivAry[%d] => %d\n", i, i32(p[i]));

    std::vector<uint64_t> burst(static_cast<size_t>(w), grey), plain(static_cast<size_t>(w), grey);
    for (int64_t b = 0; b < 6; ++b) {
        const OvSpan band = ovSplit(w, b, 6);
        for (int64_t j = 0; j < p[b]; ++j) {
            const OvSpan stripe = ovSplit(band.length(), j, p[b]);
            std::fill(burst.begin() + band.start + stripe.start, burst.begin() + band.start + stripe.end,
                      j % 2 == 0 ? white : black);
        }
    }
    ovCopyRows(r, 0, h, [&](int32_t y) { return y < h / 2 ? burst.data() : plain.data(); });

    const int64_t x0 = (W - W / 4) / 2, x1 = x0 + W / 4;
    const int64_t y1 = H * 9 / 10, y0 = y1 - H / 4;
    ovOutline(r, black, i32(x0), i32(y0), i32(x1), i32(y1));
    r.drawLine(black, i32(x0), i32(y0), i32(x1), i32(y1));
    r.drawLine(black, i32(x0), i32(y1), i32(x1), i32(y0));

    if (QiFont *font = engine ? engine->font(OvCore::kDisplayFont) : nullptr) {
        int32_t tw, th;
        drawText(r, *font, "Sharpness", black, w / 2, i32(H * 57 / 100), tw, th, true, 4);
    }
}

} // namespace

OvpSharpness::OvpSharpness() : OvPatternRenderer(g_options, "$Revision: 1.9 $") {}

bool OvpSharpness::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const unsigned style = ovEnum(g_style, params);
    ovBeginFrame(r);
    const uint32_t k = static_cast<uint32_t>(r.blackLevel());
    // (W + K) / 2 by arithmetic shift.
    const uint32_t g = static_cast<uint32_t>((r.whiteLevel() + r.blackLevel()) >> 1);
    const uint64_t grey = r.pack(g, g, g), black = r.pack(k, k, k);
    if (style == Multiburst)
        drawMultiburst(engine, r, grey, black);
    else
        drawGridLines(r, grey, black);
    ovFinishFrame(engine, r, name());
    return true;
}
