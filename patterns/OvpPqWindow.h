#pragma once
#include "OvPatternRenderer.h"

// A grey window (or the whole field) at an absolute luminance under PQ: the
// code value is the PQ inverse EOTF of the luminance, rounded to nearest
// (narrow: 64 + 876 E', full: 1023 E' at 10 bits), on black.
class OvpPqWindow : public OvPatternRenderer {
public:
    OvpPqWindow();
    const char *name() const override { return "PQWindow"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
