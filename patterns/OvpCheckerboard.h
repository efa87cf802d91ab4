#pragma once
#include "OvPatternRenderer.h"

// A grid of alternating high and low patches, hPatch across and vPatch down.
class OvpCheckerboard : public OvPatternRenderer {
public:
    OvpCheckerboard();
    const char *name() const override { return "Checkerboard"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
