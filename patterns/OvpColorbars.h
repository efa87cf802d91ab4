#pragma once
#include "OvPatternRenderer.h"

// Seven-bar colour bars: SMPTE with castellations, chips and pluge; full
// field; and two split layouts with alternate bands reversed.
class OvpColorbars : public OvPatternRenderer {
public:
    OvpColorbars();
    const char *name() const override { return "Colorbars"; }
    bool registerAliases(OvCore *engine) override;
    bool render(OvCore *engine, QiRaster *raster, const QiParams &params) override;
};
