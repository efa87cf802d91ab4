#pragma once
#include "OvPatternRenderer.h"

// One-dimensional sine sweep: the frequency rises from the left (or top)
// edge, each column (or row) one shade of the sinusoid table.
class OvpSine : public OvPatternRenderer {
public:
    OvpSine();
    const char *name() const override { return "Sine"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
