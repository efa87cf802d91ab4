#pragma once
#include "OvPatternRenderer.h"

// Sharpness: bars of rising thickness with four fine line grids, or a
// six-band multiburst whose stripes halve in width from band to band.
class OvpSharpness : public OvPatternRenderer {
public:
    OvpSharpness();
    const char *name() const override { return "Sharpness"; }
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
