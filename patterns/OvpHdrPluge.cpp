#include "OvpHdrPluge.h"

#include "OvPatternKit.h"
#include "OvpBT2111.h"
#include "QiOptDouble.h"
#include "QiRaster.h"
#include "QiSignal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const char *const kVariants[] = {"PQ narrow", "PQ full", "HLG narrow", nullptr};
QiOptEnum g_variant("Variant", "The transfer function and range the PLUGE is drawn for", 0, kVariants);
QiOptDouble g_bright("Bright", "Luminance of the bright patch in cd/m2", 203, 0, 10000);
const QiOption *const g_options[] = {&g_variant, &g_bright, nullptr};

} // namespace

int32_t OvpHdrPluge::brightCode(double luminance, int variant)
{
    if (variant == OvpBT2111::HlgNarrow) {
        // HLG on a 1000 cd/m2 display (system gamma 1.2): scene light from
        // display light, then the OETF.
        const double scene = std::pow(std::clamp(luminance, 0.0, 1000.0) / 1000.0, 1.0 / 1.2);
        return static_cast<int32_t>(std::floor(64.0 + 876.0 * qiHlgEncode(scene) + 0.5));
    }
    return qiPqCode(luminance, 10, variant == OvpBT2111::PqFull);
}

OvpHdrPluge::OvpHdrPluge() : OvPatternRenderer(g_options, "$Revision: 1.0 $") {}

bool OvpHdrPluge::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(),
                             {{"PLUGE-PQ", {{"Variant", "PQ narrow"}}},
                              {"PLUGE-PQ-Full", {{"Variant", "PQ full"}}},
                              {"PLUGE-HLG", {{"Variant", "HLG narrow"}}}});
}

bool OvpHdrPluge::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const unsigned variant = ovEnum(g_variant, params);
    const double bright = g_bright.read(params);
    const OvpBT2111::Levels l = OvpBT2111::levels(static_cast<int>(variant));
    const int32_t high = brightCode(bright, static_cast<int>(variant));
    ovBeginFrame(r);

    auto grey = [&](int32_t v) { return ovGrey(r, ovFixed10(r, v)); };
    const int32_t W = r.width(), H = r.height();
    const OvSpan stripeRows = ovRange(H, 1, 5, 6);
    std::vector<OvRect> rects;
    rects.push_back({grey(l.black), 0, 0, W, H});
    // Stripes -2 %, +2 %, +4 % in 32nds of the width: 7-9, 11-13, 15-17.
    for (int i = 0; i < 3; ++i) {
        const OvSpan x = ovRange(W, 7 + 4 * i, 9 + 4 * i, 32);
        rects.push_back({grey(l.pluge[i]), x.start, stripeRows.start, x.length(), stripeRows.length()});
    }
    // The bright patch: 21-27 32nds across, the middle third down.
    const OvSpan px = ovRange(W, 21, 27, 32), py = ovRange(H, 1, 2, 3);
    rects.push_back({grey(high), px.start, py.start, px.length(), py.length()});
    ovPaintRects(r, rects);

    char nits[32];
    auto res = std::to_chars(nits, nits + sizeof nits - 1, bright);
    *res.ptr = '\0';
    char caption[96];
    std::snprintf(caption, sizeof caption, "%s, bright %s cd/m2 = %d", kVariants[variant < 3 ? variant : 0], nits,
                  static_cast<int>(high));
    // Narrow range: the encoder's formula path, as for the bars.
    ovFinishFrame(engine, r, name(), caption, 0, variant != OvpBT2111::PqFull);
    return true;
}
