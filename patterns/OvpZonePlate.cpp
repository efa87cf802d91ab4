#include "OvpZonePlate.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

namespace {

QiOptInt g_scale("Scale", "The scale of the zone plate", 100, 16, 235);
QiOptInt g_stereo("Stereo", "The stereo separation zone plate", 0, -100, 100);
// Black and white of the raster, set at registration.
QiOptRGB g_start("StartColor", "The RGB starting color", 64, 64, 64, false);
QiOptRGB g_end("EndColor", "The RGB ending color", 940, 940, 940, false);
const QiOption *const g_options[] = {&g_scale, &g_stereo, &g_start, &g_end, nullptr};

} // namespace

OvpZonePlate::OvpZonePlate() : OvPatternRenderer(g_options, "$Revision: 1.6 $") {}

bool OvpZonePlate::registerAliases(OvCore *engine)
{
    if (QiRaster *r = engine ? engine->raster() : nullptr) {
        ovSetDefaultGrey(g_start, r->blackLevel());
        ovSetDefaultGrey(g_end, r->whiteLevel());
    }
    return true;
}

bool OvpZonePlate::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t scale = g_scale.read(params);
    const int32_t stereo = g_stereo.read(params);
    const uint64_t start = ovReadColour(r, g_start, params);
    const uint64_t end = ovReadColour(r, g_end, params);

    ovBeginFrame(r);
    // The rings centre on (W-1-cx, H-1-cy): (W/2-1, H/2-1) without an offset.
    const int32_t cy = r.height() / 2;
    ovDrawStereo(r, stereo, [&](QiImage &eye, int32_t cx) { eye.radialFill(start, end, scale, cx, cy); });
    ovFinishFrame(engine, r, name());
    return true;
}
