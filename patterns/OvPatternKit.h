#pragma once
// What every renderer's render and registerAliases share: the steps of the
// render protocol, alias tables, enumeration reads and band splitting.
#include "OvLevels.h"
#include "OvPatternRenderer.h"
#include "QiOptEnum.h"

#include <cstdint>
#include <vector>

class OvCore;
class QiRaster;

// Prepares frames output frames and sets the text-blend mode to 0.
inline void ovBeginFrame(QiRaster &r, int32_t frames = 1)
{
    r.setBufferCount(frames);
    r.setTextBlendMode(0);
}

// Title overlay (nothing while titling is off), then the frame buffer is
// encoded into output frame index; exact selects the 4:2:2 formula path.
void ovFinishFrame(OvCore *engine, QiRaster &r, const char *title, const char *extra = nullptr,
                   int32_t index = 0, bool exact = false);

// The index an enumeration option selects: its default when the key is
// absent or matches none of the values.
inline unsigned ovEnum(const QiOptEnum &opt, const QiParams &params)
{
    unsigned index = opt.defaultIndex();
    opt.read(params, index);
    return index;
}

// Aliases as a table. The settings are applied in turn to one running map
// that starts as {"Pattern": pattern}, and each alias stores the map as it
// stands, so later aliases inherit earlier settings unless they overwrite
// them or clear the map first ("Pattern" is put back after a clear).
struct OvAliasSetting {
    const char *key;
    const char *value;
};
struct OvAliasDef {
    const char *name;
    std::vector<OvAliasSetting> settings;
    bool clearFirst = false;
};
bool ovRegisterAliases(OvCore *engine, const char *pattern, const std::vector<OvAliasDef> &aliases);

// Part i of n equal parts of total: [start, end) with start = i*total/n and
// end = (i+1)*total/n, the products formed first, the quotients truncated
// (64-bit, so large counts cannot overflow).
struct OvSpan {
    int32_t start;
    int32_t end;
    int32_t length() const { return end - start; }
};
inline OvSpan ovSplit(int32_t total, int64_t i, int64_t n)
{
    if (n <= 0)
        return {0, 0};
    return {static_cast<int32_t>(i * total / n), static_cast<int32_t>((i + 1) * total / n)};
}

// Copies one prepared run of pixels (row[0] lands at column x) into rows
// y .. y+h-1, cut to the frame. For patterns whose rows repeat (ramps,
// stripes): the run is computed once and the copies spread over the
// worker pool when the area is large. row must not lie in the rows written.
void ovFillRows(QiRaster &r, const uint64_t *row, int32_t x, int32_t w, int32_t y, int32_t h);

// Sets a colour option's default to (level, level, level); registration uses
// it for colour defaults that follow the raster's black and white levels.
inline void ovSetGreyDefault(QiOptRGB &opt, int32_t level)
{
    opt.defaultRed = level;
    opt.defaultGreen = level;
    opt.defaultBlue = level;
}

// Stereo pair around the frame's centre column. f = stereo*W/200 when the
// raster offers a second-eye buffer, else 0 (neither card has one).
// draw(image, cx) draws into the frame buffer with cx = W/2 - f; with a
// second-eye buffer and f != 0 it draws that eye too with cx = W/2 + f, and
// the raster is told after each eye (0, then 1).
template <class Draw> void ovDrawStereo(QiRaster &r, int32_t stereo, Draw draw)
{
    QiImage *second = r.secondEyeBuffer();
    const int32_t half = r.width() / 2;
    const int32_t f = second ? static_cast<int32_t>(int64_t{stereo} * r.width() / 200) : 0;
    draw(static_cast<QiImage &>(r), half - f);
    if (!second || f == 0)
        return;
    r.setEyeFilled(0);
    draw(*second, half + f);
    r.setEyeFilled(1);
}
