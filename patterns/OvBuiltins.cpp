#include "OvBuiltins.h"

#include "OvpBT815.h"
#include "OvpCheckerboard.h"
#include "OvpChromaticity.h"
#include "OvpColorbars.h"
#include "OvpCornerContrast.h"
#include "OvpGeometry.h"
#include "OvpIDMS.h"
#include "OvpImageFile.h"
#include "OvpResolution.h"
#include "OvpSharpness.h"
#include "OvpVerticalBar.h"

namespace {
template <class T> OvPatternRenderer *make() { return new T; }
} // namespace

const std::vector<OvRendererFactory> &ovBuiltinRenderers()
{
    // One row per pattern, in registration order. Patterns still to come take
    // their place here: [CCRA_L20C100], [IDMS], [BT.815], "Brightness", [Checkerboard],
    // [Chromaticity], "Color", [Colorbars], "Contrast", [Geometry],
    // "Gradient", [Sharpness], [VerticalBar], "Window", "ZonePlate",
    // [Resolution], [ImageFile], "Sine", "SectorStar".
    static const std::vector<OvRendererFactory> kBuiltins = {
        make<OvpCornerContrast>,
        make<OvpIDMS>,
        make<OvpBT815>,
        make<OvpCheckerboard>,
        make<OvpChromaticity>,
        make<OvpColorbars>,
        make<OvpGeometry>,
        make<OvpSharpness>,
        make<OvpVerticalBar>,
        make<OvpResolution>,
        make<OvpImageFile>,
    };
    return kBuiltins;
}
