#pragma once
#include "OvPatternRenderer.h"

#include <cstdint>

// HDR colour bars for PQ (narrow or full range) and HLG (narrow range) in
// the BT.2111 arrangement: five rows of 1/12, 1/2, 1/12, 1/12 and 1/4 of the
// height, side panels of 1/8 of the width, 100 % bars over 75 % (HLG) or
// 58 % (PQ) bars, a stair, a ramp, BT.709 75 % colours converted to the
// BT.2020 container, and a PLUGE. Levels are 10-bit code values, shifted
// to the raster's depth.
class OvpBT2111 : public OvPatternRenderer {
public:
    OvpBT2111();
    const char *name() const override { return "BT.2111"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    enum Variant { PqNarrow = 0, PqFull = 1, HlgNarrow = 2 };
    // The 10-bit levels of a variant.
    struct Levels {
        int32_t black, white, mid, grey40;
        int32_t stair[13]; // -7 %, 0 %, 10 % ... 100 %, 109 %
        int32_t pluge[3];  // -2 %, +2 %, +4 %
        int32_t rampLow, rampHigh;
        int32_t patches[6][3]; // BT.709 75 % yellow, cyan, green, magenta, red, blue
    };
    static Levels levels(int variant);
};
