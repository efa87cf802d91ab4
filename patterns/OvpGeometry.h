#pragma once
#include "OvPatternRenderer.h"

// Geometry check: diagonals, a centre circle and four corner circles, a
// grid, the frame border and nested 95/90/85% rectangles.
class OvpGeometry : public OvPatternRenderer {
public:
    OvpGeometry();
    const char *name() const override { return "Geometry"; }
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
