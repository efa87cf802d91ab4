// HDR patterns: BT.2111 bars in their three variants, the HDR PLUGE and the
// window at a luminance under PQ. Expected levels come from the published
// 10-bit numbers; positions from the layout (rows in twelfths of the height,
// side panels an eighth of the width, parts of the inner width by truncation).
#include "PatternHarness.h"

#include <cmath>

namespace {

// The PQ inverse EOTF, written out here from its published constants.
double pq(double nits)
{
    const double m1 = 2610.0 / 16384, m2 = 2523.0 / 32, c1 = 3424.0 / 4096, c2 = 2413.0 / 128, c3 = 2392.0 / 128;
    const double y = std::pow(nits / 10000.0, m1);
    return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

double hlg(double e)
{
    const double a = 0.17883277, b = 1 - 4 * a, c = 0.5 - a * std::log(4 * a);
    return e <= 1.0 / 12 ? std::sqrt(3 * e) : a * std::log(12 * e - b) + c;
}

// BT.709 75 % bars as BT.2020 code values: BT.1886 display light (gamma
// 2.4), the BT.2087 matrix, then 203 cd/m2 for SDR white under PQ, or
// the scene light whose HLG signal is 0.75 under HLG.
Rgb patch709(int yellowCyanEtc, int variant)
{
    static const int on[6][3] = {{1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}};
    static const double m[3][3] = {{0.6274, 0.3293, 0.0433}, {0.0691, 0.9195, 0.0114}, {0.0164, 0.0880, 0.8956}};
    const double l = std::pow(0.75, 2.4);
    double hlgWhite = 0.1; // find e with hlg(e) = 0.75 by bisection
    for (double lo = 1.0 / 12, hi = 1; hi - lo > 1e-15;) {
        hlgWhite = (lo + hi) / 2;
        (hlg(hlgWhite) < 0.75 ? lo : hi) = hlgWhite;
    }
    uint32_t c[3];
    for (int i = 0; i < 3; ++i) {
        double lin = 0;
        for (int k = 0; k < 3; ++k)
            lin += m[i][k] * (on[yellowCyanEtc][k] ? l : 0);
        const double e = variant == 2 ? hlg(lin * hlgWhite) : pq(lin * 203);
        c[i] = static_cast<uint32_t>(std::lround(variant == 1 ? 1023 * e : 64 + 876 * e));
    }
    return {c[0], c[1], c[2]};
}

Rgb grey(uint32_t v) { return {v, v, v}; }

struct Variant {
    const char *alias;
    uint32_t black, white, mid, grey40;
    uint32_t stair[13];
    uint32_t pluge[3];
};

const Variant kVariants[3] = {
    {"BT2111-PQ", 64, 940, 572, 414, {4, 64, 152, 239, 327, 414, 502, 590, 677, 765, 852, 940, 1019}, {48, 80, 99}},
    // Full range: the stair as 1023 p, cut at 0 and 1023.
    {"BT2111-PQ-Full", 0, 1023, 593, 409, {0, 0, 102, 205, 307, 409, 512, 614, 716, 818, 921, 1023, 1023}, {0, 20, 41}},
    {"BT2111-HLG", 64, 940, 721, 414, {4, 64, 152, 239, 327, 414, 502, 590, 677, 765, 852, 940, 1019}, {48, 80, 99}},
};

void checkBars(int32_t W, int32_t H)
{
    PatternHarness t(W, H, 10);
    const int32_t side = W / 8, inner = W - 2 * side;
    const int32_t rowTop[6] = {0, H / 12, 7 * H / 12, 8 * H / 12, 9 * H / 12, H};
    auto mid = [&](int row) { return (rowTop[row] + rowTop[row + 1]) / 2; };
    // Column range of part i of n of the inner width.
    auto x0 = [&](int i, int n) { return side + i * inner / n; };
    auto x1 = [&](int i, int n) { return side + (i + 1) * inner / n - 1; };
    for (int v = 0; v < 3; ++v) {
        const Variant &k = kVariants[v];
        SCOPED_TRACE(std::string(k.alias) + " " + std::to_string(W));
        t.poison();
        ASSERT_NE(t.render({{"Pattern", k.alias}}), nullptr);
        // Rows 1 and 2: 40 % side panels, 100 % then 75 % / 58 % bars.
        const uint32_t levels[2] = {k.white, k.mid};
        static const int bars[7][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}};
        for (int row = 0; row < 2; ++row) {
            const int32_t y = mid(row);
            EXPECT_EQ(t.at(0, y), grey(k.grey40));
            EXPECT_EQ(t.at(side - 1, rowTop[row]), grey(k.grey40));
            EXPECT_EQ(t.at(W - side, rowTop[row + 1] - 1), grey(k.grey40));
            for (int i = 0; i < 7; ++i) {
                const uint32_t on = levels[row];
                const Rgb c{bars[i][0] ? on : k.black, bars[i][1] ? on : k.black, bars[i][2] ? on : k.black};
                EXPECT_EQ(t.at(x0(i, 7), rowTop[row]), c) << "row " << row << " bar " << i;
                EXPECT_EQ(t.at(x1(i, 7), rowTop[row + 1] - 1), c) << "row " << row << " bar " << i;
            }
        }
        // Row 3: the stair, thirteen equal steps; black side panels.
        for (int i = 0; i < 13; ++i) {
            EXPECT_EQ(t.at(x0(i, 13), rowTop[2]), grey(k.stair[i])) << "step " << i;
            EXPECT_EQ(t.at(x1(i, 13), rowTop[3] - 1), grey(k.stair[i])) << "step " << i;
        }
        EXPECT_EQ(t.at(side - 1, mid(2)), grey(k.black));
        // Row 4: the ramp from -7 % to 109 %, rising.
        EXPECT_EQ(t.at(side, mid(3)), grey(k.stair[0]));
        EXPECT_EQ(t.at(W - side - 1, mid(3)), grey(k.stair[12]));
        EXPECT_EQ(t.at(W - side, mid(3)), grey(k.black));
        for (int32_t x = side + 1; x < W - side; x += 37)
            EXPECT_GE(t.at(x, mid(3)).r, t.at(x - 1, mid(3)).r);
        // Row 5: BT.709 colours, then 0, -2 %, 0, +2 %, 0, +4 %, 0.
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(t.at(x0(i, 12), rowTop[4]), patch709(i, v)) << "patch " << i;
            EXPECT_EQ(t.at(x1(i, 12), H - 1), patch709(i, v)) << "patch " << i;
        }
        const int32_t half = x0(1, 2), halfW = inner - inner / 2;
        const uint32_t pluge[7] = {k.black, k.pluge[0], k.black, k.pluge[1], k.black, k.pluge[2], k.black};
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(t.at(half + i * halfW / 7, mid(4)), grey(pluge[i])) << "pluge " << i;
            EXPECT_EQ(t.at(half + (i + 1) * halfW / 7 - 1, mid(4)), grey(pluge[i])) << "pluge " << i;
        }
        EXPECT_EQ(t.at(0, H - 1), grey(k.black));
        EXPECT_EQ(t.at(W - 1, H - 1), grey(k.black));
    }
}

} // namespace

TEST(BT2111, BarsAt1080AndUhd)
{
    checkBars(1920, 1080);
    checkBars(3840, 2160);
    // The BT.709 colours differ per variant: yellow's blue, for one.
    EXPECT_NE(patch709(0, 0), patch709(0, 2));
    // The bars' own name selects the PQ narrow variant.
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "BT.2111"}});
    EXPECT_EQ(t.at(300, 300), grey(572));
    t.render({{"Pattern", "BT.2111"}, {"Variant", "HLG narrow"}});
    EXPECT_EQ(t.at(300, 300), grey(721));
}

TEST(HdrPluge, StripesAndTheBrightPatch)
{
    PatternHarness t(1920, 1080, 10);
    struct Case {
        const char *alias;
        uint32_t black, stripes[3], bright;
    } cases[] = {
        {"PLUGE-PQ", 64, {48, 80, 99}, 573},      // 203 cd/m2 under PQ
        {"PLUGE-PQ-Full", 0, {0, 20, 41}, 594},   // the same, full range
        {"PLUGE-HLG", 64, {48, 80, 99}, 721},     // HLG reference white: 75 %
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alias);
        t.poison();
        ASSERT_NE(t.render({{"Pattern", c.alias}}), nullptr);
        // Stripes in 32nds of the width (60 columns): 7-9, 11-13, 15-17;
        // rows from a sixth to five sixths of the height.
        for (int i = 0; i < 3; ++i) {
            const int32_t x = (7 + 4 * i) * 60;
            EXPECT_EQ(t.at(x, 180), grey(c.stripes[i]));
            EXPECT_EQ(t.at(x + 119, 899), grey(c.stripes[i]));
            EXPECT_EQ(t.at(x - 1, 500), grey(c.black));
            EXPECT_EQ(t.at(x, 179), grey(c.black));
        }
        // The bright patch: 21-27 32nds across, the middle third down.
        EXPECT_EQ(t.at(1260, 360), grey(c.bright));
        EXPECT_EQ(t.at(1619, 719), grey(c.bright));
        EXPECT_EQ(t.at(1620, 500), grey(c.black));
        EXPECT_EQ(t.at(1300, 720), grey(c.black));
    }
    t.render({{"Pattern", "HDRPluge"}, {"Bright", "1000"}});
    EXPECT_EQ(t.at(1300, 500), grey(723)) << "1000 cd/m2 under PQ";
    t.render({{"Pattern", "HDRPluge"}, {"Variant", "HLG narrow"}, {"Bright", "1000"}});
    EXPECT_EQ(t.at(1300, 500), grey(940)) << "the HLG display's peak";
}

// The published code values: within the rounding stated (to nearest).
TEST(PqWindow, CodeValuesOfThePublishedTable)
{
    PatternHarness t(1920, 1080, 10);
    struct Row {
        const char *nits;
        uint32_t narrow, full;
    } rows[] = {{"0.005", 77, 15}, {"0.1", 119, 64},   {"1", 195, 153},    {"10", 327, 307},    {"100", 509, 520},
                {"203", 573, 594}, {"1000", 723, 769}, {"4000", 855, 923}, {"10000", 940, 1023}};
    for (const Row &r : rows) {
        t.render({{"Pattern", "PQWindow"}, {"Luminance", r.nits}});
        EXPECT_EQ(t.at(960, 540), grey(r.narrow)) << r.nits;
        EXPECT_EQ(t.at(0, 0), grey(64));
        t.render({{"Pattern", "PQWindow"}, {"Luminance", r.nits}, {"Range", "Full"}});
        EXPECT_EQ(t.at(960, 540), grey(r.full)) << r.nits;
        EXPECT_EQ(t.at(0, 0), grey(0));
    }
    // A 10 % window: sides sqrt(1920^2 / 10) = 607 and sqrt(1080^2 / 10) = 341, centred.
    t.poison();
    t.render({{"Pattern", "PQ1000"}});
    EXPECT_EQ(t.at(656, 369), grey(723));
    EXPECT_EQ(t.at(656 + 606, 369 + 340), grey(723));
    EXPECT_EQ(t.at(655, 369), grey(64));
    EXPECT_EQ(t.at(656 + 607, 369), grey(64));
    EXPECT_EQ(t.at(656, 368), grey(64));
    t.render({{"Pattern", "PQField"}, {"Luminance", "100"}});
    EXPECT_EQ(t.at(0, 0), grey(509));
    EXPECT_EQ(t.at(1919, 1079), grey(509));
}
