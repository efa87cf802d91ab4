#pragma once
#include "OvPatternRenderer.h"

// Levels around white: labelled swatches of 8-bit codes 231-254 on a patch.
class OvpContrast : public OvPatternRenderer {
public:
    OvpContrast();
    const char *name() const override { return "Contrast"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
