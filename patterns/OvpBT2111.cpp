#include "OvpBT2111.h"

#include "OvPatternKit.h"
#include "QiRaster.h"
#include "QiSignal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const char *const kVariants[] = {"PQ narrow", "PQ full", "HLG narrow", nullptr};
QiOptEnum g_variant("Variant", "The transfer function and range the bars are drawn for", OvpBT2111::PqNarrow,
                    kVariants);
const QiOption *const g_options[] = {&g_variant, nullptr};

int32_t roundCode(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }

// p (1.0 = 100 %) as a 10-bit code: narrow 64 + 876 p within 4..1019 (the
// codes a video signal may carry), full 1023 p within 0..1023.
int32_t code(double p, bool full)
{
    return full ? std::clamp(roundCode(1023.0 * p), 0, 1023) : std::clamp(roundCode(64.0 + 876.0 * p), 4, 1019);
}

// A colour of 10-bit codes at the raster's depth.
uint64_t rgb(const QiRaster &r, int32_t red, int32_t green, int32_t blue)
{
    return r.pack(ovFixed10(r, red), ovFixed10(r, green), ovFixed10(r, blue));
}

} // namespace

OvpBT2111::Levels OvpBT2111::levels(int variant)
{
    const bool full = variant == PqFull;
    const bool hlg = variant == HlgNarrow;
    Levels l{};
    l.black = code(0, full);
    l.white = code(1, full);
    l.mid = code(hlg ? 0.75 : 0.58, full);
    l.grey40 = code(0.40, full);
    l.stair[0] = code(-0.07, full);
    for (int i = 0; i <= 10; ++i)
        l.stair[1 + i] = code(i / 10.0, full);
    l.stair[12] = code(1.09, full);
    // The published PLUGE levels (-2 %, +2 %, +4 %).
    const int32_t narrowPluge[3] = {48, 80, 99}, fullPluge[3] = {0, 20, 41};
    std::copy(full ? fullPluge : narrowPluge, (full ? fullPluge : narrowPluge) + 3, l.pluge);
    l.rampLow = l.stair[0];
    l.rampHigh = l.stair[12];

    // BT.709 75 % bars in the BT.2020 container: display light through
    // BT.1886 (gamma 2.4), the BT.2087 primaries matrix, then SDR white at
    // 203 cd/m2 under PQ, or at the HLG signal 0.75 (scene light) under HLG.
    static const double kToBt2020[3][3] = {
        {0.6274, 0.3293, 0.0433}, {0.0691, 0.9195, 0.0114}, {0.0164, 0.0880, 0.8956}};
    static const int kOn[6][3] = {{1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}};
    const double on = std::pow(0.75, 2.4);
    // The scene light whose HLG signal is 0.75.
    const double hlgWhite = (std::exp((0.75 - 0.55991073) / 0.17883277) + 0.28466892) / 12.0;
    for (int p = 0; p < 6; ++p) {
        for (int c = 0; c < 3; ++c) {
            double lin = 0;
            for (int k = 0; k < 3; ++k)
                lin += kToBt2020[c][k] * (kOn[p][k] ? on : 0.0);
            const double e = hlg ? qiHlgEncode(lin * hlgWhite) : qiPqEncode(lin * 203.0);
            l.patches[p][c] = full ? roundCode(1023.0 * e) : roundCode(64.0 + 876.0 * e);
        }
    }
    return l;
}

OvpBT2111::OvpBT2111() : OvPatternRenderer(g_options, "$Revision: 1.0 $") {}

bool OvpBT2111::registerAliases(OvCore *engine)
{
    return ovRegisterAliases(engine, name(),
                             {{"BT2111-PQ", {{"Variant", "PQ narrow"}}},
                              {"BT2111-PQ-Full", {{"Variant", "PQ full"}}},
                              {"BT2111-HLG", {{"Variant", "HLG narrow"}}}});
}

bool OvpBT2111::render(OvCore *engine, QiRaster *raster, const QiParams &params)
{
    QiRaster &r = *raster;
    const unsigned variant = ovEnum(g_variant, params);
    const Levels l = levels(static_cast<int>(variant));
    ovBeginFrame(r);

    const int32_t W = r.width(), H = r.height();
    const int32_t side = W / 8, inner = W - 2 * side;
    const OvSpan rows[5] = {ovRange(H, 0, 1, 12), ovRange(H, 1, 7, 12), ovRange(H, 7, 8, 12), ovRange(H, 8, 9, 12),
                            ovRange(H, 9, 12, 12)};
    auto span = [&](const OvSpan &s) { return s.length(); };
    // The inner area in n equal parts, part i as absolute columns.
    auto part = [&](int64_t i, int64_t n) {
        OvSpan s = ovSplit(inner, i, n);
        return OvSpan{side + s.start, side + s.end};
    };

    std::vector<OvRect> rects;
    const uint64_t black = rgb(r, l.black, l.black, l.black);
    rects.push_back({black, 0, 0, W, H});
    // Bars: white, yellow, cyan, green, magenta, red, blue.
    static const int kBars[7][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}};
    const int32_t barRows[2][2] = {{l.white, l.black}, {l.mid, l.black}};
    const uint64_t grey40 = rgb(r, l.grey40, l.grey40, l.grey40);
    for (int row = 0; row < 2; ++row) {
        const OvSpan &y = rows[row];
        rects.push_back({grey40, 0, y.start, side, span(y)});
        rects.push_back({grey40, W - side, y.start, side, span(y)});
        for (int i = 0; i < 7; ++i) {
            const OvSpan x = part(i, 7);
            const int32_t on = barRows[row][0], off = barRows[row][1];
            rects.push_back({rgb(r, kBars[i][0] ? on : off, kBars[i][1] ? on : off, kBars[i][2] ? on : off),
                             x.start, y.start, x.length(), span(y)});
        }
    }
    // The stair: thirteen equal steps.
    for (int i = 0; i < 13; ++i) {
        const OvSpan x = part(i, 13);
        rects.push_back({rgb(r, l.stair[i], l.stair[i], l.stair[i]), x.start, rows[2].start, x.length(),
                         span(rows[2])});
    }
    // Bottom row: the BT.709 colours in the left half, the PLUGE in the right.
    for (int i = 0; i < 6; ++i) {
        const OvSpan x = part(i, 12);
        rects.push_back({rgb(r, l.patches[i][0], l.patches[i][1], l.patches[i][2]), x.start, rows[4].start,
                         x.length(), span(rows[4])});
    }
    // 0, -2 %, 0, +2 %, 0, +4 %, 0 in sevenths of the right half.
    const int32_t plugeLevels[7] = {l.black, l.pluge[0], l.black, l.pluge[1], l.black, l.pluge[2], l.black};
    for (int i = 0; i < 7; ++i) {
        const OvSpan half = part(1, 2);
        const OvSpan s = ovSplit(half.length(), i, 7);
        const int32_t v = plugeLevels[i];
        rects.push_back({rgb(r, v, v, v), half.start + s.start, rows[4].start, s.length(), span(rows[4])});
    }
    ovPaintRects(r, rects);

    // The ramp, -7 % to 109 % across the inner width, rounded to nearest.
    std::vector<uint64_t> ramp(static_cast<size_t>(std::max(inner, 1)));
    for (int32_t x = 0; x < inner; ++x) {
        const double t = inner > 1 ? static_cast<double>(x) / (inner - 1) : 0.0;
        const int32_t v = roundCode(l.rampLow + (l.rampHigh - l.rampLow) * t);
        ramp[static_cast<size_t>(x)] = rgb(r, v, v, v);
    }
    ovFillRows(r, ramp.data(), side, inner, rows[3].start, span(rows[3]));

    char caption[48];
    std::snprintf(caption, sizeof caption, "%s", kVariants[variant < 3 ? variant : 0]);
    // Narrow-range codes go through the formula path of the 4:2:2 encoder,
    // which keeps a grey's luma equal to its code also below black (the -7 %
    // step stays 4); full-range codes are not what that path reads.
    ovFinishFrame(engine, r, name(), caption, 0, variant != PqFull);
    return true;
}
