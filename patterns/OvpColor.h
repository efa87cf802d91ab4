#pragma once
#include "OvPatternRenderer.h"

// Colour and tint adjustment: blue, grey, cyan and magenta cells rotating
// down the twelve swatch columns.
class OvpColor : public OvPatternRenderer {
public:
    OvpColor();
    const char *name() const override { return "Color"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
