#pragma once
#include "OvPatternRenderer.h"

// One-pixel gratings: vertical lines, horizontal lines or a pixel
// checkerboard, for checking that the chain keeps every pixel.
class OvpResolution : public OvPatternRenderer {
public:
    OvpResolution();
    const char *name() const override { return "Resolution"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
