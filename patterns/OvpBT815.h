#pragma once
#include "OvPatternRenderer.h"

// Fixed reference: a grey field with a white centre square and four black
// squares, captioned with the three levels.
class OvpBT815 : public OvPatternRenderer {
public:
    OvpBT815();
    const char *name() const override { return "BT.815"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
