#include "OvpCheckerboard.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptBool.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int32_t kPatchDefault = 5, kPatchMinimum = 2;

// Maxima follow the frame size from the first render on.
QiOptInt g_hPatch("hPatch", "The number of horzontal patches", kPatchDefault, kPatchMinimum, 2048);
QiOptInt g_vPatch("vPatch", "The number of veritcal patches", kPatchDefault, kPatchMinimum, 1536);
QiOptRGB g_hiColor("hiColor", "The RGB color of the high patches", 940, 940, 940, false);
QiOptRGB g_loColor("loColor", "The RGB color of the low patch", 64, 64, 64, false);
QiOptBool g_invert("invert", "Interchange the high and low patches", false);
const QiOption *const g_options[] = {&g_hPatch, &g_vPatch, &g_hiColor, &g_loColor, &g_invert, nullptr};

} // namespace

OvpCheckerboard::OvpCheckerboard() : OvPatternRenderer(g_options, "$Revision: 1.11 $") {}

bool OvpCheckerboard::registerAliases(OvCore *engine)
{
    const QiRaster *r = engine ? engine->raster() : nullptr;
    if (r) {
        ovSetDefaultGrey(g_hiColor, r->whiteLevel());
        ovSetDefaultGrey(g_loColor, r->blackLevel());
    }
    return true;
}

bool OvpCheckerboard::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t w = r.width(), h = r.height();
    g_hPatch.setLimits(kPatchDefault, kPatchMinimum, w);
    g_vPatch.setLimits(kPatchDefault, kPatchMinimum, h);
    const int32_t across = g_hPatch.read(params), down = g_vPatch.read(params);
    ovBeginFrame(r);
    const uint64_t lo = ovReadColour(r, g_loColor, params);
    const uint64_t hi = ovReadColour(r, g_hiColor, params);
    const bool invert = g_invert.read(params);

    // Patch (row i, column f) is high when i + f + invert is even, so the
    // rows of even patch rows share one run and those of odd ones another.
    std::vector<uint64_t> runs[2] = {std::vector<uint64_t>(static_cast<size_t>(w)),
                                     std::vector<uint64_t>(static_cast<size_t>(w))};
    for (int32_t f = 0; f < across; ++f) {
        const OvSpan span = ovSplit(w, f, across);
        const bool evenHigh = (f + (invert ? 1 : 0)) % 2 == 0;
        std::fill(runs[0].begin() + span.start, runs[0].begin() + span.end, evenHigh ? hi : lo);
        std::fill(runs[1].begin() + span.start, runs[1].begin() + span.end, evenHigh ? lo : hi);
    }
    std::vector<uint8_t> parity(static_cast<size_t>(h));
    for (int32_t i = 0; i < down; ++i) {
        const OvSpan span = ovSplit(h, i, down);
        std::fill(parity.begin() + span.start, parity.begin() + span.end, static_cast<uint8_t>(i % 2));
    }
    ovCopyRows(r, 0, h, [&](int32_t y) { return runs[parity[static_cast<size_t>(y)]].data(); });

    ovFinishFrame(engine, r, name());
    return true;
}
