#pragma once
// What every renderer's render and registerAliases share: the steps of the
// render protocol, alias tables, enumeration reads and band splitting.
#include "OvLevels.h"
#include "OvPatternRenderer.h"
#include "QiOptEnum.h"

#include <cmath>
#include <cstdint>
#include <functional>
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

// Row y of rows y .. y+h-1 (cut to the frame) becomes a copy of the
// full-width run source(y); a null run leaves the row as it is. For
// patterns whose rows take one of a few prepared runs (gratings, patch
// rows, nested bands). source is called from the worker pool's threads
// when the area is large, so it must only read; the runs must not lie in
// the frame.
void ovCopyRows(QiRaster &r, int32_t y, int32_t h, const std::function<const uint64_t *(int32_t)> &source);

// The closed one-pixel rectangle through (x0, y0) and (x1, y1), corners in
// any order: the pixels four drawLine calls along its sides give, written as
// clipped rows and columns.
void ovOutline(QiRaster &r, uint64_t word, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// Sets a colour option's default to the grey (level, level, level); the
// "(K)" and "(W)" defaults follow the raster's levels at registration.
inline void ovSetDefaultGrey(QiOptRGB &opt, int32_t level)
{
    opt.defaultRed = level;
    opt.defaultGreen = level;
    opt.defaultBlue = level;
}

// One side of a window covering percent of the frame's area with the
// frame's aspect: trunc(sqrt(side*side*percent/100)), the quotient
// truncated first (a fifth of the side for 4%).
inline int32_t ovWindowSide(int32_t side, int32_t percent)
{
    const int64_t s = side;
    return static_cast<int32_t>(std::sqrt(static_cast<double>(s * s * percent / 100)));
}
