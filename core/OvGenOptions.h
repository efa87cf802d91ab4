#pragma once
#include "QiOptBool.h"
#include "QiOptEnum.h"
#include "QiOptIntRo.h"
#include "QiOptRGB.h"

// The generator's own options, published like a pattern's and applied by the
// render thread before each draw.
struct OvGenOptions {
    static QiOptRGB gatingColor;
    static QiOptBool gateRed;
    static QiOptBool gateGreen;
    static QiOptBool gateBlue;
    static QiOptEnum videoFormat;
    static QiOptBool outputTitling;
    static QiOptIntRo bitDepth;
    static QiOptIntRo blackLevel;
    static QiOptIntRo whiteLevel;
    static QiOptEnum outputColor;
    static QiOptBool videoMute;
    static QiOptEnum colorEncoding;

    // The twelve, in publishing order, null-terminated.
    static QiOptionList list();
    // "OutputColor" index to the raster's generic pixel-format index.
    static int32_t pixelFormatFor(unsigned outputColor);
};
