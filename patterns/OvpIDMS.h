#pragma once
#include "OvPatternRenderer.h"

// 32 nested grey rectangles from video white outside to video black in the
// middle, around an outlined centre window.
class OvpIDMS : public OvPatternRenderer {
public:
    OvpIDMS();
    const char *name() const override { return "IDMS"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
