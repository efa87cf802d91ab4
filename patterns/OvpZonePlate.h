#pragma once
#include "OvPatternRenderer.h"

// Circular zone plate: rings whose frequency rises with the distance from
// the centre, shaded from the sinusoid table; an optional stereo pair.
class OvpZonePlate : public OvPatternRenderer {
public:
    OvpZonePlate();
    const char *name() const override { return "ZonePlate"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
