#include "OvpSectorStar.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

namespace {

const char *const kStyles[] = {"2Color", "RGBCMYK", "Sine", nullptr};
enum Style { TwoColor, Rgbcmyk, Sine };

// The colours are offered while Style is not "RGBCMYK" (predicate logic 0).
const QiLayout kUnlessRgbcmyk{-1, -1, -1, -1, "Style", "RGBCMYK", false};

QiOptInt g_divisions("Divisions", "The scale of the zone plate", 36, 1, 360);
QiOptEnum g_style("Style", "The style of SectorStar to render", TwoColor, kStyles);
QiOptInt g_stereo("Stereo", "The stereo separation zone plate", 0, -100, 100);
// Black and white of the raster, set at registration.
QiOptRGB g_color1("Color1", "The first RGB color", 64, 64, 64, false, kUnlessRgbcmyk);
QiOptRGB g_color2("Color2", "The second RGB color", 940, 940, 940, false, kUnlessRgbcmyk);
const QiOption *const g_options[] = {&g_divisions, &g_style, &g_stereo, &g_color1, &g_color2, nullptr};

} // namespace

OvpSectorStar::OvpSectorStar() : OvPatternRenderer(g_options, "$Revision: 1.6 $") {}

bool OvpSectorStar::registerAliases(OvCore *engine)
{
    if (QiRaster *r = engine ? engine->raster() : nullptr) {
        ovSetDefaultGrey(g_color1, r->blackLevel());
        ovSetDefaultGrey(g_color2, r->whiteLevel());
    }
    return true;
}

bool OvpSectorStar::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const unsigned style = ovEnum(g_style, params);
    const int32_t divisions = g_divisions.read(params);
    const int32_t stereo = g_stereo.read(params);
    const uint64_t color1 = ovReadColour(r, g_color1, params);
    const uint64_t color2 = ovReadColour(r, g_color2, params);

    ovBeginFrame(r);
    const uint32_t k = static_cast<uint32_t>(r.blackLevel()), w = static_cast<uint32_t>(r.whiteLevel());
    const uint64_t eight[8] = {r.pack(w, k, k), r.pack(k, w, k), r.pack(k, k, w), r.pack(k, w, w),
                               r.pack(w, k, w), r.pack(w, w, k), r.pack(k, k, k), r.pack(w, w, w)};
    const uint64_t two[2] = {color1, color2};
    const bool eightColours = style == Rgbcmyk;
    const int32_t cy = r.height() / 2;
    ovDrawStereo(r, stereo, [&](QiImage &eye, int32_t cx) {
        eye.sectorFill(eightColours ? eight : two, eightColours ? 8 : 2, divisions, cx, cy, style == Sine);
    });
    ovFinishFrame(engine, r, name());
    return true;
}
