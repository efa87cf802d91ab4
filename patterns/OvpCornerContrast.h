#pragma once
#include "OvPatternRenderer.h"

// Corner contrast reference: four white patches, each a quarter of the 4%
// window, in the corners of a video-black field. No title.
class OvpCornerContrast : public OvPatternRenderer {
public:
    OvpCornerContrast();
    const char *name() const override { return "CCRA_L20C100"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
