#pragma once
#include "OvPatternRenderer.h"

// Vertical stripes of a chosen width from an offset, in two colours or
// cycling through the eight full-level colours.
class OvpVerticalBar : public OvPatternRenderer {
public:
    OvpVerticalBar();
    const char *name() const override { return "VerticalBar"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
