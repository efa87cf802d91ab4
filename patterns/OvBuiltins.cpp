#include "OvBuiltins.h"

#include "OvpColorbars.h"
#include "OvpSectorStar.h"
#include "OvpSine.h"
#include "OvpZonePlate.h"

namespace {
template <class T> OvPatternRenderer *make() { return new T; }
} // namespace

const std::vector<OvRendererFactory> &ovBuiltinRenderers()
{
    // One row per pattern, in registration order. Patterns still to come take
    // their place here: "CCRA_L20C100", "IDMS", "BT.815", "Brightness",
    // "Checkerboard", "Chromaticity", "Color", [Colorbars], "Contrast",
    // "Geometry", "Gradient", "Sharpness", "VerticalBar", "Window",
    // [ZonePlate], "Resolution", "ImageFile", [Sine], [SectorStar].
    static const std::vector<OvRendererFactory> kBuiltins = {
        make<OvpColorbars>,
        make<OvpZonePlate>,
        make<OvpSine>,
        make<OvpSectorStar>,
    };
    return kBuiltins;
}
