#include "OvBuiltins.h"

#include "OvpBT2111.h"
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
#include "OvpHdrPluge.h"
#include "OvpIDMS.h"
#include "OvpImageFile.h"
#include "OvpPatch.h"
#include "OvpPqWindow.h"
#include "OvpResolution.h"
#include "OvpSectorStar.h"
#include "OvpSharpness.h"
#include "OvpSine.h"
#include "OvpVerticalBar.h"
#include "OvpWindows.h"
#include "OvpZonePlate.h"

namespace {
template <class T> OvPatternRenderer *make() { return new T; }
} // namespace

const std::vector<OvRendererFactory> &ovBuiltinRenderers()
{
    // One row per pattern, in registration order (the catalogue's order).
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
        make<OvpZonePlate>,
        make<OvpResolution>,
        make<OvpImageFile>,
        make<OvpSine>,
        make<OvpSectorStar>,
        // Ours, after the nineteen. HDR: colour bars, PLUGE and a window at
        // a luminance under PQ; last, the calibration programs' patch.
        make<OvpBT2111>,
        make<OvpHdrPluge>,
        make<OvpPqWindow>,
        make<OvpPatch>,
    };
    return kBuiltins;
}
