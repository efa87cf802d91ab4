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
// stripes): the run is computed once and copied, streamed past the cache
// when the area is large. row must not lie in the rows written.
void ovFillRows(QiRaster &r, const uint64_t *row, int32_t x, int32_t w, int32_t y, int32_t h);

// Row y of rows y .. y+h-1 (cut to the frame) becomes a copy of the
// full-width run source(y); a null run leaves the row as it is. For
// patterns whose rows take one of a few prepared runs (gratings, patch
// rows, nested bands). source must only read; the runs must not lie in the
// frame.
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

// The part of n equal parts of total (as ovSplit cuts them) that holds
// position pos, 0 <= pos < total: the largest i with i*total/n <= pos.
inline int64_t ovSplitAt(int32_t total, int32_t pos, int64_t n)
{
    if (n <= 0 || total <= 0)
        return 0;
    return ((int64_t{pos} + 1) * n - 1) / total;
}

// [from*total/n, to*total/n): a span given in n-ths of total, each end
// formed product first and truncated, as the layouts state them.
inline OvSpan ovRange(int32_t total, int64_t from, int64_t to, int64_t n)
{
    if (n <= 0)
        return {0, 0};
    return {static_cast<int32_t>(from * total / n), static_cast<int32_t>(to * total / n)};
}

// Layout hint of an option offered only while option field has value.
inline QiLayout ovShownWhen(const char *field, const char *value) { return {-1, -1, -1, -1, field, value, true}; }

// Calls fill(y, row) for each row y0 .. y1-1 cut to the frame; large areas
// are spread over the worker pool, so fill must write its own row only.
void ovForEachRow(QiRaster &r, int32_t y0, int32_t y1, const std::function<void(int32_t, uint64_t *)> &fill);

// One fillRect: w or h of -1 extend to the right or bottom edge.
struct OvRect {
    uint64_t colour;
    int32_t x, y, w, h;
};
// Paints the rectangles in order, giving exactly the pixels successive
// fillRect calls give (cut to the frame, pixels no rectangle covers kept).
// Each run of rows that the same rectangles cross is composed once and
// copied in whole rows, so a frame costs one pass of stores however the
// rectangles overlap. Meant for a few dozen rectangles.
void ovPaintRects(QiRaster &r, const std::vector<OvRect> &rects);

// A label in the engine's label font, its box centred on (x, y).
void ovDrawLabel(OvCore *engine, QiRaster &r, const char *text, uint64_t colour, int32_t x, int32_t y);

// Twelve swatch columns across the middle of the screen: column k (0..11)
// spans W*(B-3)/71 to W*B/71 with B = 15 + 4k, three 71sts wide with a one
// 71st gap; rows are given in 27ths of the height (ovRange).
inline OvSpan ovSwatchColumn(int32_t width, int k)
{
    const int64_t b = 15 + 4 * int64_t{k};
    return ovRange(width, b - 3, b, 71);
}
// The x a column's labels are centred on: trunc(W*(B-1.5)/71) in double.
inline int32_t ovSwatchLabelX(int32_t width, int k)
{
    return static_cast<int32_t>(static_cast<double>(width) * (15 + 4 * k - 1.5) / 71);
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
