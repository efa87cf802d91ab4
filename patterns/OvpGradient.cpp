#include "OvpGradient.h"

#include "OvCore.h"
#include "OvPatternKit.h"
#include "QiColor.h"
#include "QiOptBool.h"
#include "QiOptDouble.h"
#include "QiOptEnum.h"
#include "QiOptInt.h"
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const char *const kOrientations[] = {"Horizontal", "Vertical", nullptr};
enum Orientation { Horizontal, Vertical };
const char *const kStyles[] = {"Normal", "RGBCMYK", "RGBCMYK_lo", "RGBCMYK_hi", nullptr};
enum Style { Normal, Rgbcmyk, RgbcmykLo, RgbcmykHi };

QiOptInt g_steps("Steps", "The number of steps in the ramp/staircase (0 for ramp)", 11, 0, 255);
QiOptEnum g_orientation("Orientation", "The orientation of the pattern (horiz or vert)", Vertical, kOrientations);
QiOptEnum g_style("Style", "The Style to use (Normal, RGBCMYK, RGBCMYK_lo, RGBCMYK_hi)", Normal, kStyles);
QiOptDouble g_gamma("Gamma", "The gamma to use for the ramp gradient", 1.0, 0.1, 5.0);
QiOptBool g_mirror("Mirror",
                   "Mirror makes the gradient from start to end to start, (i.e. endLevel/endColor is at the middle "
                   "and reflected back)",
                   false);
// Grey defaults, rewritten from the raster's levels at registration.
QiOptRGB g_startColor("StartColor", "The RGB starting color", 0, 0, 0, false, ovShownWhen("Style", "Normal"));
QiOptRGB g_endColor("EndColor", "The RGB ending color", 255, 255, 255, false, ovShownWhen("Style", "Normal"));
QiOptInt g_splits("Splits", "The number of strips to render", 0, 0, 540, ovShownWhen("Style", "Normal"));
const QiOption *const g_options[] = {&g_steps,      &g_orientation, &g_style,  &g_gamma, &g_mirror,
                                     &g_startColor, &g_endColor,    &g_splits, nullptr};

// Step i of c as a fraction. One step has no fraction (0/0): it draws the
// first step of the sequence, t = 0.
double stepFraction(int64_t i, int64_t c) { return c > 1 ? static_cast<double>(i) / static_cast<double>(c - 1) : 0.0; }

void encodeGamma(const QiRaster &r, double gamma, uint64_t &colour)
{
    // Gamma 1 maps every code to itself; spare the pow calls.
    if (gamma != 1.0)
        r.gammaPixel(gamma, colour);
}

// Ramp between S and E, each band split into m + 1 strips across the other
// axis, the even strips in A, the odd ones in B.
void drawNormal(QiRaster &r, bool horizontal, int64_t c, int64_t m, bool mirror, double gamma, uint64_t start,
                uint64_t end)
{
    std::vector<uint64_t> a(static_cast<size_t>(c)), b(static_cast<size_t>(c));
    for (int64_t i = 0; i < c; ++i) {
        double t = stepFraction(i, c);
        if (mirror)
            t = 1.0 - std::fabs((t - 0.5) * 2.0);
        a[i] = interpolateColor(&r, t, start, end);
        // Few steps: the reversed staircase; a ramp: the same ramp at 8-bit
        // precision, so the strips show what the extra bits add.
        b[i] = c <= 51 ? interpolateColor(&r, t, end, start) : interpolateColor8(&r, t, start, end);
        encodeGamma(r, gamma, a[i]);
        encodeGamma(r, gamma, b[i]);
    }
    const int32_t w = r.width(), h = r.height();
    if (horizontal) {
        // Strip edges once, not per row.
        std::vector<int32_t> edges(static_cast<size_t>(m) + 2);
        for (int64_t j = 0; j <= m + 1; ++j)
            edges[static_cast<size_t>(j)] = ovSplit(w, j, m + 1).start;
        ovForEachRow(r, 0, h, [&](int32_t y, uint64_t *row) {
            const size_t i = static_cast<size_t>(ovSplitAt(h, y, c));
            for (size_t j = 0; j + 1 < edges.size(); ++j)
                std::fill(row + edges[j], row + edges[j + 1], (j & 1) ? b[i] : a[i]);
        });
        return;
    }
    // Vertical bands: every row of a strip is the same run of bands.
    std::vector<uint64_t> runs(2 * static_cast<size_t>(w));
    for (int64_t i = 0; i < c; ++i) {
        const OvSpan band = ovSplit(w, i, c);
        std::fill(runs.begin() + band.start, runs.begin() + band.end, a[i]);
        std::fill(runs.begin() + w + band.start, runs.begin() + w + band.end, b[i]);
    }
    ovForEachRow(r, 0, h, [&](int32_t y, uint64_t *row) {
        const int64_t j = ovSplitAt(h, y, m + 1);
        std::memcpy(row, runs.data() + ((j & 1) ? w : 0), static_cast<size_t>(w) * sizeof(uint64_t));
    });
}

// Seven staircases: red, green, blue, cyan, yellow, magenta, grey.
void drawStairs(QiRaster &r, bool horizontal, int64_t c, unsigned style, double gamma)
{
    const int64_t k = r.blackLevel(), white = r.whiteLevel(), range = white - k;
    const uint32_t mask = r.mask();
    auto level = [&](double v) {
        return static_cast<uint32_t>(static_cast<int64_t>(std::trunc(v))) & mask;
    };
    std::vector<uint64_t> colours(7 * static_cast<size_t>(c)); // step-major
    for (int64_t i = 0; i < c; ++i) {
        const double t = stepFraction(i, c);
        uint32_t hi, lo;
        switch (style) {
        case RgbcmykLo:
            lo = static_cast<uint32_t>(k);
            hi = level(static_cast<double>(k) + static_cast<double>(range) * t);
            break;
        case RgbcmykHi:
            lo = level(static_cast<double>(k) + static_cast<double>(range) * t);
            hi = static_cast<uint32_t>(white);
            break;
        default:
            // Saturated colours reach full level mid-screen, then
            // desaturate toward white.
            if (t <= 0.5) {
                lo = static_cast<uint32_t>(k);
                hi = level(static_cast<double>(k) + static_cast<double>(range) * (2 * t));
            } else {
                lo = level(static_cast<double>(k) + static_cast<double>(range) * ((t - 0.5) * 2));
                hi = static_cast<uint32_t>(white);
            }
            break;
        }
        const uint32_t g = level(static_cast<double>(k) + static_cast<double>(range) * t);
        uint64_t *step = colours.data() + 7 * i;
        step[0] = r.pack(hi, lo, lo);
        step[1] = r.pack(lo, hi, lo);
        step[2] = r.pack(lo, lo, hi);
        step[3] = r.pack(lo, hi, hi);
        step[4] = r.pack(hi, hi, lo);
        step[5] = r.pack(hi, lo, hi);
        step[6] = r.pack(g, g, g);
        for (int n = 0; n < 7; ++n)
            encodeGamma(r, gamma, step[n]);
    }
    const int32_t w = r.width(), h = r.height();
    if (horizontal) {
        ovForEachRow(r, 0, h, [&](int32_t y, uint64_t *row) {
            const uint64_t *step = colours.data() + 7 * ovSplitAt(h, y, c);
            for (int n = 0; n < 7; ++n) {
                const OvSpan column = ovSplit(w, n, 7);
                std::fill(row + column.start, row + column.end, step[n]);
            }
        });
        return;
    }
    // Vertical: seven rows of staircases, each a run of bands left to right.
    std::vector<uint64_t> runs(7 * static_cast<size_t>(w));
    for (int64_t i = 0; i < c; ++i) {
        const OvSpan band = ovSplit(w, i, c);
        for (int n = 0; n < 7; ++n)
            std::fill(runs.begin() + n * w + band.start, runs.begin() + n * w + band.end, colours[7 * i + n]);
    }
    ovForEachRow(r, 0, h, [&](int32_t y, uint64_t *row) {
        std::memcpy(row, runs.data() + ovSplitAt(h, y, 7) * w, static_cast<size_t>(w) * sizeof(uint64_t));
    });
}

} // namespace

OvpGradient::OvpGradient() : OvPatternRenderer(g_options, "$Revision: 1.5 $") {}

bool OvpGradient::registerAliases(OvCore *engine)
{
    if (const QiRaster *r = engine->raster()) {
        const int32_t k = r->blackLevel(), w = r->whiteLevel();
        g_startColor.defaultRed = g_startColor.defaultGreen = g_startColor.defaultBlue = k;
        g_endColor.defaultRed = g_endColor.defaultGreen = g_endColor.defaultBlue = w;
    }
    return ovRegisterAliases(engine, name(),
                             {{"Ramp", {{"Orientation", "Horizontal"}, {"Steps", "0"}}},
                              {"HRamp", {{"Orientation", "Horizontal"}, {"Steps", "0"}}},
                              {"VRamp", {{"Orientation", "Vertical"}, {"Steps", "0"}}},
                              {"HStair11", {{"Orientation", "Horizontal"}, {"Steps", "11"}}},
                              {"VStair11", {{"Orientation", "Vertical"}, {"Steps", "11"}}},
                              {"VStair21", {{"Orientation", "Vertical"}, {"Steps", "21"}}},
                              {"HStair21", {{"Orientation", "Horizontal"}, {"Steps", "21"}}},
                              {"DynamicRange", {{"Steps", "0"}, {"Splits", "3"}, {"Mirror", "true"}}, true}});
}

bool OvpGradient::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const int32_t steps = g_steps.read(params);
    const unsigned orientation = ovEnum(g_orientation, params);
    const unsigned style = ovEnum(g_style, params);
    const double gamma = g_gamma.read(params);
    const uint64_t start = ovReadColour(r, g_startColor, params);
    const bool mirror = g_mirror.read(params);
    const uint64_t end = ovReadColour(r, g_endColor, params);
    const int32_t splits = g_splits.read(params);

    ovBeginFrame(r);
    const bool horizontal = orientation == Horizontal;
    // A ramp has one step per line.
    const int64_t c = steps != 0 ? steps : (horizontal ? r.height() : r.width());
    if (c > 0) {
        if (style == Normal)
            drawNormal(r, horizontal, c, splits, mirror, gamma, start, end);
        else
            drawStairs(r, horizontal, c, style, gamma);
    }
    ovFinishFrame(engine, r, name());
    return true;
}
