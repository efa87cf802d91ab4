#include "OvpPatch.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiLog.h"
#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <atomic>
#include <cmath>
#include <vector>

namespace {

const char *const kDepths[] = {"8", "10", "12", nullptr};
const int32_t kDepthBits[] = {8, 10, 12};

QiOptRGB g_color("Color", "The patch color, as code values at Bits", 235, 235, 235, false);
QiOptEnum g_bits("Bits", "The bit depth of the patch color", 0, kDepths);
QiOptRGB g_bgColor("BgColor", "The background color, as code values at BgBits", 16, 16, 16, false,
                   ovShownWhen("KeepBg", "false"));
QiOptEnum g_bgBits("BgBits", "The bit depth of the background color", 0, kDepths, ovShownWhen("KeepBg", "false"));
QiOptDouble g_x("x", "The left edge of the patch, as a fraction of the frame width", 0.45, 0.0, 1.0);
QiOptDouble g_y("y", "The top edge of the patch, as a fraction of the frame height", 0.45, 0.0, 1.0);
QiOptDouble g_cx("cx", "The width of the patch, as a fraction of the frame width", 0.1, 0.0, 1.0);
QiOptDouble g_cy("cy", "The height of the patch, as a fraction of the frame height", 0.1, 0.0, 1.0);
QiOptBool g_keepBg("KeepBg", "Leave the frame around the patch as it is (draw the patch only)", false);
QiOptBool g_titling("Titling", "Draw the title overlay over the patch (while OutputTitling is on)", false);
const QiOption *const g_options[] = {&g_color, &g_bits, &g_bgColor, &g_bgBits, &g_x,        &g_y,
                                     &g_cx,    &g_cy,   &g_keepBg,  &g_titling, nullptr};

// Depth pairs whose lost low bits have been logged (bit from*16+to).
std::atomic<uint64_t> g_droppedLogged{0};

// Reads a colour at its depth; components beyond the depth are clamped
// and the clamp logged.
void readColour(const QiOptRGB &opt, const QiParams &params, int32_t bits, uint32_t out[3])
{
    opt.read(params, out[0], out[1], out[2]);
    const uint32_t top = (1u << bits) - 1u;
    for (int i = 0; i < 3; ++i) {
        if (out[i] > top) {
            qiLog(1, "OvpPatch::render: %s component %u is beyond %d bits, clamped to %u\n", opt.name,
                  out[i], bits, top);
            out[i] = top;
        }
    }
}

uint64_t atDepth(const QiRaster &r, const uint32_t c[3], int32_t bits)
{
    const int32_t n = r.bits();
    if (bits > n) {
        const uint64_t bit = uint64_t{1} << ((bits & 15) * 4 + (n & 3));
        if (!(g_droppedLogged.fetch_or(bit) & bit))
            qiLog(2, "OvpPatch::render: %d-bit colors on a %d-bit raster: the low %d bits are dropped\n", bits, n,
                  bits - n);
    }
    return r.pack(OvpPatch::toDepth(c[0], bits, n), OvpPatch::toDepth(c[1], bits, n),
                  OvpPatch::toDepth(c[2], bits, n));
}

} // namespace

OvpPatch::OvpPatch() : OvPatternRenderer(g_options, "$Revision: 1.0 $") {}

int32_t OvpPatch::edge(double fraction, int32_t size)
{
    if (!(fraction > 0.0) || size <= 0)
        return 0;
    // The margin is far below a pixel at any frame size and far above the
    // error of a decimal fraction's nearest double times the size.
    const double e = std::floor(fraction * size + 0.5 + 1e-7);
    return e >= size ? size : static_cast<int32_t>(e);
}

uint32_t OvpPatch::toDepth(uint32_t v, int32_t from, int32_t to)
{
    const uint32_t top = (1u << from) - 1u;
    if (v > top)
        v = top;
    return to >= from ? v << (to - from) : v >> (from - to);
}

bool OvpPatch::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t bits = kDepthBits[ovEnum(g_bits, params)];
    const int32_t bgBits = kDepthBits[ovEnum(g_bgBits, params)];
    uint32_t fg[3], bg[3];
    readColour(g_color, params, bits, fg);
    readColour(g_bgColor, params, bgBits, bg);
    const double x = g_x.read(params), y = g_y.read(params);
    const double cx = g_cx.read(params), cy = g_cy.read(params);
    const bool keepBg = g_keepBg.read(params), titling = g_titling.read(params);

    ovBeginFrame(r);
    const int32_t w = r.width(), h = r.height();
    const int32_t x0 = edge(x, w), x1 = edge(x + cx, w);
    const int32_t y0 = edge(y, h), y1 = edge(y + cy, h);
    std::vector<OvRect> rects;
    if (!keepBg)
        rects.push_back({atDepth(r, bg, bgBits), 0, 0, w, h});
    if (x1 > x0 && y1 > y0)
        rects.push_back({atDepth(r, fg, bits), x0, y0, x1 - x0, y1 - y0});
    ovPaintRects(r, rects);
    // Encoded as the window is (flag 1): the 4:2:2 formula path carries a
    // grey's code value to the luma unchanged, down to the lowest codes.
    ovFinishFrame(titling ? engine : nullptr, r, name(), nullptr, 0, true);
    return true;
}
