#include "OvpCornerContrast.h"

#include "OvPatternKit.h"
#include "QiRaster.h"

OvpCornerContrast::OvpCornerContrast() : OvPatternRenderer(nullptr, "$Revision: 1.0 $") {}

bool OvpCornerContrast::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(), {{"Raster", {{"Size", "4"}}}});
}

bool OvpCornerContrast::render(OvCore *, QiRaster *raster, const QiParams &)
{
    QiRaster &r = *raster;
    const bool eight = r.whiteLevel() <= 255;
    const uint64_t black = ovGrey(r, eight ? 16 : 64), white = ovGrey(r, eight ? 235 : 940);
    const int32_t w = r.width(), h = r.height();
    const int32_t pw = ovWindowSide(w, 4) / 2, ph = ovWindowSide(h, 4) / 2;

    // Drawn before the frame is prepared, the text-blend mode left alone and
    // no title: the patches are the whole picture.
    r.fill(black);
    r.fillRect(white, 0, 0, pw, ph);
    r.fillRect(white, w - pw, 0, pw, ph);
    r.fillRect(white, 0, h - ph, pw, ph);
    r.fillRect(white, w - pw, h - ph, pw, ph);

    r.setBufferCount(1);
    framePeriod = 0;
    r.render(0, false);
    return true;
}
