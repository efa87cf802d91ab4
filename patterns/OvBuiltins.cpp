#include "OvBuiltins.h"

#include "OvpBT815.h"
#include "OvpBrightness.h"
#include "OvpCheckerboard.h"
#include "OvpChromaticity.h"
#include "OvpColor.h"
#include "OvpColorbars.h"
#include "OvpContrast.h"
#include "OvpCornerContrast.h"
#include "OvpGeometry.h"
#include "OvpGradient.h"
#include "OvpIDMS.h"
#include "OvpImageFile.h"
#include "OvpPatch.h"
#include "OvpResolution.h"
#include "OvpSharpness.h"
#include "OvpVerticalBar.h"
#include "OvpWindows.h"

namespace {
template <class T> OvPatternRenderer *make() { return new T; }
} // namespace

const std::vector<OvRendererFactory> &ovBuiltinRenderers()
{
    // One row per pattern, in registration order. Still to come, in their places:
    // "ZonePlate", "Sine", "SectorStar".
    static const std::vector<OvRendererFactory> kBuiltins = {
        make<OvpCornerContrast>,
        make<OvpIDMS>,
        make<OvpBT815>,
        make<OvpBrightness>,
        make<OvpCheckerboard>,
        make<OvpChromaticity>,
        make<OvpColor>,
        make<OvpColorbars>,
        make<OvpContrast>,
        make<OvpGeometry>,
        make<OvpGradient>,
        make<OvpSharpness>,
        make<OvpVerticalBar>,
        make<OvpWindows>,
        make<OvpResolution>,
        make<OvpImageFile>,
        // Ours, after the nineteen: the calibration programs' patch.
        make<OvpPatch>,
    };
    return kBuiltins;
}
