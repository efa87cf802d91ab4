#include "OvpGeometry.h"

#include "OvPatternKit.h"
#include "QiOptInt.h"
#include "QiRaster.h"

#include <vector>

namespace {

QiOptInt g_hLines("hLines", "The number of horzontal lines", 5, 2, 480);
QiOptInt g_vLines("vLines", "The number of veritcal lines", 5, 2, 480);
const QiOption *const g_options[] = {&g_hLines, &g_vLines, nullptr};

} // namespace

OvpGeometry::OvpGeometry() : OvPatternRenderer(g_options, "$Revision: 1.6 $") {}

bool OvpGeometry::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    ovBeginFrame(r);
    const uint32_t k = static_cast<uint32_t>(r.blackLevel()), wl = static_cast<uint32_t>(r.whiteLevel());
    const uint64_t white = r.pack(wl, wl, wl);
    const int32_t hLines = g_hLines.read(params), vLines = g_vLines.read(params);

    // 64-bit products: the frame size is the caller's, not ours to trust.
    const int64_t W = r.width(), H = r.height();
    auto i32 = [](int64_t v) { return static_cast<int32_t>(v); };

    // Everything but the nested rectangles is white, so the order among
    // the white parts does not show: the vertical lines at j*W/vLines go
    // into the black background row, written once (a column walk over a
    // 4096x2160 frame costs a cache miss per pixel).
    std::vector<uint64_t> background(static_cast<size_t>(W), r.pack(k, k, k));
    for (int32_t j = 0; j < vLines; ++j)
        background[static_cast<size_t>(ovSplit(i32(W), j, vLines).start)] = white;
    ovFillRows(r, background.data(), 0, i32(W), 0, i32(H));

    r.drawLine(white, 0, 0, i32(W), i32(H));
    r.drawLine(white, 0, i32(H), i32(W), 0);

    r.drawCircle(white, i32(W / 2), i32(H / 2), i32(H * 850 / 2000));
    const int64_t t = H * 850 / 5000, rx = W * 150 / 2000, uy = H * 150 / 2000;
    r.drawCircle(white, i32(t + rx), i32(t + uy), i32(t));
    r.drawCircle(white, i32(W - rx - t), i32(t + uy), i32(t));
    r.drawCircle(white, i32(t + rx), i32(H - uy - t), i32(t));
    r.drawCircle(white, i32(W - rx - t), i32(H - uy - t), i32(t));

    // Horizontal lines at j*H/hLines across the whole frame.
    r.drawGrid(white, 0, 0, i32(W), i32(H), 0, hLines, 0, 0);

    ovOutline(r, white, 0, 0, i32(W - 1), i32(H - 1));

    struct Nested {
        uint64_t colour;
        int64_t inset, percent; // inset in 2000ths, size in 1000ths
    };
    const Nested nested[] = {{r.pack(wl, k, k), 50, 950}, {r.pack(wl, wl, k), 100, 900}, {r.pack(k, wl, k), 150, 850}};
    for (const Nested &n : nested) {
        const int64_t a = W * n.inset / 2000, b = H * n.inset / 2000;
        ovOutline(r, n.colour, i32(a), i32(b), i32(W * n.percent / 1000 + a), i32(H * n.percent / 1000 + b));
    }

    ovFinishFrame(engine, r, name());
    return true;
}
