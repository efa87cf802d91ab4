#pragma once
#include "OvPatternRenderer.h"

// Ramps and staircases between a start and an end colour (mirrored,
// gamma-encoded, split into strips alternating with a second gradient), or
// seven primary/secondary/grey staircases side by side.
class OvpGradient : public OvPatternRenderer {
public:
    OvpGradient();
    const char *name() const override { return "Gradient"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
