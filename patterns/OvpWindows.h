#pragma once
#include "OvPatternRenderer.h"

#include <cstddef>

// A window of one colour on a background: a given share of the screen
// area, or a 5% window in a black ring on a background chosen so that the
// whole frame has a given average picture level. Optional pluges and grid;
// the caption gives the window's levels, PQ luminance and the APL.
class OvpWindows : public OvPatternRenderer {
public:
    OvpWindows();
    const char *name() const override { return "Window"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    // SMPTE ST 2084 luminance (cd/m2) of signal fraction x, odd in x.
    virtual double pqNits(double x);
    // value with no decimals from 10 up, one from 1 up, two below (negative
    // values included), always within size bytes: a value whose text does
    // not fit is written in exponent form. Answers buffer.
    virtual char *formatNits(char *buffer, size_t size, double value);
};
