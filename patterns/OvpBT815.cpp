#include "OvpBT815.h"

#include "OvPatternKit.h"
#include "QiRaster.h"

#include <cstdio>

namespace {
int32_t i32(int64_t v) { return static_cast<int32_t>(v); }
} // namespace

OvpBT815::OvpBT815() : OvPatternRenderer(nullptr, "$Revision: 1.0 $") {}

bool OvpBT815::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(), {{"Raster", {}}});
}

bool OvpBT815::render(OvCore *engine, QiRaster *raster, const QiParams &)
{
    QiRaster &r = *raster;
    ovBeginFrame(r);
    // Video references: 8-bit ones while the white level fits 8 bits.
    const bool eight = r.whiteLevel() <= 255;
    const uint32_t grey = eight ? 126 : 504, black = eight ? 16 : 64, white = eight ? 235 : 940;

    const int64_t W = r.width(), H = r.height();
    const int64_t s = static_cast<int64_t>(static_cast<double>(W) * 0.07447916666666667); // both sides
    const int64_t l = W / 2 - s / 2, o = H / 2 - s / 2;
    const int64_t m = static_cast<int64_t>(static_cast<double>(W) * 0.275);
    const int64_t right = static_cast<int64_t>(static_cast<double>(W) * 0.65);
    const int64_t top = H / 2 + W / (-2) + m, bottom = o + l - m;

    r.fill(ovGrey(r, grey));
    r.fillRect(ovGrey(r, white), i32(l), i32(o), i32(s), i32(s));
    const uint64_t b = ovGrey(r, black);
    r.fillRect(b, i32(m), i32(o), i32(s), i32(s));
    r.fillRect(b, i32(right), i32(o), i32(s), i32(s));
    r.fillRect(b, i32(l), i32(top), i32(s), i32(s));
    r.fillRect(b, i32(l), i32(bottom), i32(s), i32(s));

    char caption[64];
    snprintf(caption, sizeof caption, "Gray: %d, Black: %d, White: %d", static_cast<int>(grey),
             static_cast<int>(black), static_cast<int>(white));
    ovFinishFrame(engine, r, name(), caption);
    return true;
}
