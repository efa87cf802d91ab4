#pragma once
#include "OvPatternRenderer.h"

// Levels around black: labelled swatches of 8-bit codes 1-24 on a patch, or
// two frames flipped every 750 ms with rings just below and above black
// (Blinking) or black and white (Testing).
class OvpBrightness : public OvPatternRenderer {
public:
    OvpBrightness();
    const char *name() const override { return "Brightness"; }
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
