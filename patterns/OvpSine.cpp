#include "OvpSine.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

namespace {

const char *const kOrientations[] = {"Horizontal", "Vertical", nullptr};
enum Orientation { Horizontal, Vertical };

QiOptInt g_scale("Scale", "The scale of the sine wave", 10, 1, 255);
QiOptEnum g_orientation("Orientation", "The orientation of the pattern (horiz or vert)", Vertical, kOrientations);
// Black and white of the raster, set at registration.
QiOptRGB g_start("StartColor", "The RGB starting color", 64, 64, 64, false);
QiOptRGB g_end("EndColor", "The RGB ending color", 940, 940, 940, false);
const QiOption *const g_options[] = {&g_scale, &g_orientation, &g_start, &g_end, nullptr};

} // namespace

OvpSine::OvpSine() : OvPatternRenderer(g_options, "$Revision: 1.6 $") {}

bool OvpSine::registerAliases(OvCore *engine)
{
    if (QiRaster *r = engine ? engine->raster() : nullptr) {
        ovSetDefaultGrey(g_start, r->blackLevel());
        ovSetDefaultGrey(g_end, r->whiteLevel());
    }
    return true;
}

bool OvpSine::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t scale = g_scale.read(params);
    const uint64_t start = ovReadColour(r, g_start, params);
    const uint64_t end = ovReadColour(r, g_end, params);
    const unsigned orientation = ovEnum(g_orientation, params);

    ovBeginFrame(r);
    r.chirpFill(start, end, scale, orientation == Horizontal);
    ovFinishFrame(engine, r, name());
    return true;
}
