#pragma once
#include "OvPatternRenderer.h"

// Siemens star: sectors around the centre in two colours, in the eight
// full-level colours, or shaded from the sinusoid table; an optional stereo
// pair.
class OvpSectorStar : public OvPatternRenderer {
public:
    OvpSectorStar();
    const char *name() const override { return "SectorStar"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
