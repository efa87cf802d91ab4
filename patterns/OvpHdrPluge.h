#pragma once
#include "OvPatternRenderer.h"

// A PLUGE in the BT.814 arrangement for HDR signals: stripes at -2 %, +2 %
// and +4 % on black, and a bright patch at an HDR level given in cd/m2
// (203 by default, the HDR reference white), for PQ (narrow or full range)
// or HLG (narrow range, a 1000 cd/m2 display).
class OvpHdrPluge : public OvPatternRenderer {
public:
    OvpHdrPluge();
    const char *name() const override { return "HDRPluge"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    // The 10-bit code of the bright patch for a luminance and variant
    // (0 PQ narrow, 1 PQ full, 2 HLG narrow), rounded to nearest.
    static int32_t brightCode(double luminance, int variant);
};
