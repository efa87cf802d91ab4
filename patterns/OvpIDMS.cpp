#include "OvpIDMS.h"

#include "OvPatternKit.h"
#include "QiRaster.h"

#include <algorithm>
#include <vector>

namespace {

// 8-bit levels, outermost rectangle first.
constexpr uint32_t kLevels[32] = {235, 227, 220, 214, 207, 199, 192, 185, 178, 171, 164, 157, 150, 143, 135, 129,
                                  122, 115, 107, 100, 93,  86,  80,  72,  65,  58,  51,  43,  37,  30,  23,  16};

// The innermost of the 32 rectangles (steps of `step` in from each side of
// `size`) that holds position p: rectangle k spans k*step .. size-1-k*step.
int32_t depth(int64_t p, int64_t size, int64_t step)
{
    if (step <= 0)
        return 31;
    return static_cast<int32_t>(std::min<int64_t>({31, p / step, (size - 1 - p) / step}));
}

} // namespace

OvpIDMS::OvpIDMS() : OvPatternRenderer(nullptr, "$Revision: 1.0 $") {}

bool OvpIDMS::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(), {{"Raster", {}}});
}

bool OvpIDMS::render(OvCore *engine, QiRaster *raster, const QiParams &)
{
    QiRaster &r = *raster;
    ovBeginFrame(r);
    const int32_t w = r.width(), h = r.height();
    const int64_t W = w, H = h;
    // The 4% window: a fifth of each dimension.
    const int64_t t = ovWindowSide(w, 4), a = ovWindowSide(h, 4);
    const int64_t sx = ((W - t) / 32) / 2, sy = ((H - a) / 32) / 2;

    // Rectangles are filled outermost first, so a pixel shows the innermost
    // one holding it: level index min(depth across, depth down). Rows of one
    // depth down share a run.
    std::vector<int32_t> across(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x)
        across[static_cast<size_t>(x)] = depth(x, W, sx);
    std::vector<std::vector<uint64_t>> runs(32);
    std::vector<int32_t> down(static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        const int32_t m = depth(y, H, sy);
        down[static_cast<size_t>(y)] = m;
        std::vector<uint64_t> &run = runs[static_cast<size_t>(m)];
        if (!run.empty())
            continue;
        run.resize(static_cast<size_t>(w));
        for (int32_t x = 0; x < w; ++x)
            run[static_cast<size_t>(x)] = ovGrey(r, ovFixed8(r, kLevels[std::min(across[static_cast<size_t>(x)], m)]));
    }
    ovCopyRows(r, 0, h, [&](int32_t y) { return runs[static_cast<size_t>(down[static_cast<size_t>(y)])].data(); });

    const int64_t e = W / 2 - t / 2, f = H / 2 - a / 2, u = e + t, v = f + a;
    auto i32 = [](int64_t n) { return static_cast<int32_t>(n); };
    ovOutline(r, ovPackFixed8(r, 16, 16, 235), i32(e), i32(f), i32(u), i32(v));
    const uint64_t black = ovPackFixed8(r, 16, 16, 16);
    ovOutline(r, black, i32(e + 5), i32(f), i32(u - 5), i32(v));
    ovOutline(r, black, i32(e), i32(f + 5), i32(u), i32(v - 5));

    ovFinishFrame(engine, r, name());
    return true;
}
