#pragma once
#include "OvPatternRenderer.h"

#include <cstdint>

// One rectangle of one colour on a background colour, for the calibration
// programs' own protocols: geometry in fractions of the frame, colours as
// code values at a stated depth, shifted (never rescaled) to the raster's.
class OvpPatch : public OvPatternRenderer {
public:
    OvpPatch();
    const char *name() const override { return "Patch"; }
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;

    // The pixel edge of a fraction of size: round half up of fraction *
    // size, held to 0 .. size. Decimal fractions that lie on a half (0.1875
    // of 1080) round up even when their nearest double is a hair below.
    static int32_t edge(double fraction, int32_t size);
    // Code value v at depth from, clamped to that depth, at depth to: shifted
    // left when to is deeper, right (low bits dropped) when shallower.
    static uint32_t toDepth(uint32_t v, int32_t from, int32_t to);
};
