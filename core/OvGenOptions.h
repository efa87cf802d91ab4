#pragma once
#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptInt.h"
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

    // What the signal says it carries. Published apart from the twelve, so
    // callers that read the generator's option list by position see it as
    // it always was (GetGenOptions adds them only when asked).
    static QiOptEnum transferFunction;
    static QiOptEnum colorimetry;
    static QiOptEnum signalRange;
    static QiOptEnum hdrMetadata;
    static QiOptEnum masteringPrimaries;
    static QiOptDouble masteringRedX, masteringRedY, masteringGreenX, masteringGreenY;
    static QiOptDouble masteringBlueX, masteringBlueY, masteringWhiteX, masteringWhiteY;
    static QiOptDouble masteringMaxLuminance;
    static QiOptDouble masteringMinLuminance;
    static QiOptInt maxCll;
    static QiOptInt maxFall;

    // The signal options in publishing order, null-terminated.
    static QiOptionList signalList();
    // "HdrMetadata" values.
    enum { kMetadataAuto = 0, kMetadataOn = 1, kMetadataOff = 2 };
    // "MasteringPrimaries" value of the custom xy keys.
    static constexpr int32_t kPrimariesCustom = 3;
    // "OutputColor" index to the raster's generic pixel-format index.
    static int32_t pixelFormatFor(unsigned outputColor);
};
