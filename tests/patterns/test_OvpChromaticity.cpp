// The chromaticity diagram: colour-space matrices, the spectral locus, the
// pixel mapping and the three styles.
#include "OvpChromaticity.h"
#include "PatternHarness.h"
#include "QiLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using Mat = std::array<std::array<double, 3>, 3>;

// Gauss-Jordan with partial pivoting.
Mat inverse(Mat a)
{
    Mat inv{};
    for (int i = 0; i < 3; ++i)
        inv[i][i] = 1;
    for (int c = 0; c < 3; ++c) {
        int p = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c]))
                p = r;
        std::swap(a[c], a[p]);
        std::swap(inv[c], inv[p]);
        const double d = a[c][c];
        for (int k = 0; k < 3; ++k) {
            a[c][k] /= d;
            inv[c][k] /= d;
        }
        for (int r = 0; r < 3; ++r) {
            if (r == c)
                continue;
            const double f = a[r][c];
            for (int k = 0; k < 3; ++k) {
                a[r][k] -= f * a[c][k];
                inv[r][k] -= f * inv[c][k];
            }
        }
    }
    return inv;
}

struct Derived {
    Mat toXyz, toRgb;
};

// RGB->XYZ: the primaries' XYZ as columns, each scaled so that RGB (1,1,1)
// gives the white point's XYZ; XYZ->RGB its inverse.
Derived derive(const double prim[3][3], const double white[3])
{
    Mat p{};
    for (int i = 0; i < 3; ++i) {
        const double x = prim[i][0], y = prim[i][1], Y = prim[i][2];
        p[0][i] = x * Y / y;
        p[1][i] = Y;
        p[2][i] = (1 - x - y) * Y / y;
    }
    const double w[3] = {white[0] * white[2] / white[1], white[2], (1 - white[0] - white[1]) * white[2] / white[1]};
    const Mat pi = inverse(p);
    Derived d{};
    for (int c = 0; c < 3; ++c) {
        const double s = pi[c][0] * w[0] + pi[c][1] * w[1] + pi[c][2] * w[2];
        for (int r = 0; r < 3; ++r)
            d.toXyz[r][c] = p[r][c] * s;
    }
    d.toRgb = inverse(d.toXyz);
    return d;
}

const double kRec709[3][3] = {{0.64, 0.33, 0.212656}, {0.30, 0.60, 0.715158}, {0.15, 0.06, 0.072186}};
const double kRec601[3][3] = {{0.63, 0.34, 0.212395}, {0.31, 0.595, 0.701049}, {0.155, 0.07, 0.086556}};
const double kD65[3] = {0.3127, 0.3290, 1.0};

double q16(double v) { return std::trunc(v * 65536.0) / 65536.0; }

// The space holds its primaries and white point as 16.16 (int(v * 65536));
// its matrices are those of the values it holds.
void expectWithinOneStep(const OvRgbSpace &s, const double prim[3][3], const double white[3])
{
    double qp[3][3], qw[3];
    for (int i = 0; i < 3; ++i) {
        qw[i] = q16(white[i]);
        for (int j = 0; j < 3; ++j)
            qp[i][j] = q16(prim[i][j]);
    }
    for (const Derived &d : {derive(qp, qw)})
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                EXPECT_LE(std::fabs(s.rgbToXyz(r, c).raw - d.toXyz[r][c] * 65536.0), 1.0) << s.name() << r << c;
                EXPECT_LE(std::fabs(s.xyzToRgb(r, c).raw - d.toRgb[r][c] * 65536.0), 1.0) << s.name() << r << c;
            }
}

OvpChromaticity *chromaticity(OvCore &engine)
{
    return dynamic_cast<OvpChromaticity *>(engine.findRenderer("Chromaticity"));
}

// The code values the diagram gives chromaticity pixel column j, locus row
// g, worked out here in double precision from the space's primaries.
Rgb expectedPixel(int32_t w, int32_t h, int32_t j, int32_t g, int bits, const double prim[3][3], int style)
{
    const double x = std::trunc(static_cast<double>(j) / w * 65536.0) / 65536.0;
    const double y = std::trunc(static_cast<double>(g) / h * 65536.0) / 65536.0;
    const Mat m = derive(prim, kD65).toRgb;
    const double xyz[3] = {x / y, 1.0, (1 - x - y) / y};
    double c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = m[i][0] * xyz[0] + m[i][1] * xyz[1] + m[i][2] * xyz[2];
    const double lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
    for (double &v : c) {
        if (lo >= 0)
            v /= hi;
        else if (style == 0)
            v = (v - lo) / (1.33 * (hi - lo));
        else if (style == 2)
            v = (v - lo) / (hi - lo);
        else
            v = 6553 / 65536.0;
    }
    const double top = (1 << bits) - 1;
    return {static_cast<uint32_t>(std::lround(c[0] * top)), static_cast<uint32_t>(std::lround(c[1] * top)),
            static_cast<uint32_t>(std::lround(c[2] * top))};
}

void expectNear(const Rgb &got, const Rgb &want, uint32_t tolerance, const std::string &what)
{
    EXPECT_LE(std::abs(static_cast<int>(got.r) - static_cast<int>(want.r)), static_cast<int>(tolerance)) << what;
    EXPECT_LE(std::abs(static_cast<int>(got.g) - static_cast<int>(want.g)), static_cast<int>(tolerance)) << what;
    EXPECT_LE(std::abs(static_cast<int>(got.b) - static_cast<int>(want.b)), static_cast<int>(tolerance)) << what;
}

} // namespace

TEST(Chromaticity, SpacesAndTheirMatricesWithinOneFixedStep)
{
    const OvRgbSpace &rec709 = OvRgbSpace::rec709(), &rec601 = OvRgbSpace::rec601();
    EXPECT_EQ(rec709.name(), "FRec709");
    EXPECT_EQ(rec601.name(), "FRec601");
    ASSERT_TRUE(rec709.valid());
    ASSERT_TRUE(rec601.valid());
    EXPECT_EQ(rec709.white(0).raw, 20493);
    EXPECT_EQ(rec709.white(1).raw, 21561);
    EXPECT_EQ(rec709.white(2).raw, 65536);
    EXPECT_EQ(rec709.primary(0, 0).raw, 41943); // int(0.64 * 65536)
    EXPECT_EQ(rec601.primary(2, 1).raw, 4587);  // int(0.07 * 65536)
    EXPECT_EQ(rec709.gamma().gamma().raw, 0x23333);
    expectWithinOneStep(rec709, kRec709, kD65);
    expectWithinOneStep(rec601, kRec601, kD65);

    // D50 as the 16.16 values it is given by, (22653, 23494, 65536).
    const double d50[3] = {22653 / 65536.0, 23494 / 65536.0, 1.0};
    Fixed prim[3][3], white[3] = {Fixed::fromRaw(22653), Fixed::fromRaw(23494), Fixed::fromRaw(65536)};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            prim[i][j] = Fixed::fromDouble(kRec601[i][j]);
    OvRgbSpace custom("custom-xyY", prim, white, Fixed::fromDouble(2.2));
    ASSERT_TRUE(custom.valid());
    expectWithinOneStep(custom, kRec601, d50);

    // Nothing to invert: a primary with y = 0, primaries on one line.
    Fixed flat[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            flat[i][j] = prim[i][j];
    flat[1][1] = Fixed::fromRaw(0);
    EXPECT_FALSE(OvRgbSpace("x", flat, white, Fixed::fromDouble(2.2)).valid());
    for (int i = 0; i < 3; ++i)
        flat[i][0] = flat[i][1] = Fixed::fromDouble(0.2 + 0.1 * i);
    EXPECT_FALSE(OvRgbSpace("x", flat, white, Fixed::fromDouble(2.2)).valid());
}

TEST(Chromaticity, LocusPointsMatchThePublishedChromaticities)
{
    // CIE 1931 2-degree chromaticity coordinates, six decimals, from a table
    // published independently of the colour-matching functions in the tree.
    struct {
        int nm;
        double x, y;
    } published[] = {{380, 0.174112, 0.004964}, {450, 0.156641, 0.017705}, {500, 0.008168, 0.538423},
                     {520, 0.074302, 0.833803}, {550, 0.301604, 0.692308}, {600, 0.627037, 0.372491},
                     {700, 0.734690, 0.265310}, {780, 0.734690, 0.265310}};
    for (const auto &p : published) {
        double x, y;
        ASSERT_TRUE(OvpChromaticity::locusPoint(p.nm, x, y)) << p.nm;
        EXPECT_NEAR(x, p.x, 6e-7) << p.nm;
        EXPECT_NEAR(y, p.y, 6e-7) << p.nm;
    }
    double x, y;
    EXPECT_FALSE(OvpChromaticity::locusPoint(359, x, y));
    EXPECT_FALSE(OvpChromaticity::locusPoint(831, x, y));
    ASSERT_TRUE(OvpChromaticity::locusPoint(830, x, y));

    // The two splines pass through the table's points, and the long branch
    // closes with the line of purples from about 700 nm to 361 nm.
    PatternHarness t(64, 36, 10);
    OvpChromaticity *c = chromaticity(t.engine);
    ASSERT_NE(c, nullptr);
    for (int nm : {400, 470, 500, 515}) {
        OvpChromaticity::locusPoint(nm, x, y);
        EXPECT_NEAR(c->left(y), x, 1e-12) << nm;
    }
    for (int nm : {540, 580, 620, 660}) {
        OvpChromaticity::locusPoint(nm, x, y);
        EXPECT_NEAR(c->right(y), x, 1e-12) << nm;
    }
    double x361, y361, x700, y700;
    OvpChromaticity::locusPoint(361, x361, y361);
    OvpChromaticity::locusPoint(700, x700, y700);
    const double mid = (y361 + y700) / 2;
    EXPECT_NEAR(c->right(mid), (x361 + x700) / 2, 1e-6);
}

TEST(Chromaticity, PixelsStylesAndMargins)
{
    struct Size {
        int32_t w, h;
        int bits;
    };
    for (const Size s : {Size{1920, 1080, 10}, Size{721, 487, 8}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        PatternHarness t(s.w, s.h, s.bits);
        OvpChromaticity *c = chromaticity(t.engine);
        ASSERT_NE(c, nullptr);
        const int32_t W = s.w, H = s.h, mx = W / 5, my = H / 10;
        const uint32_t top = (1u << s.bits) - 1, k = static_cast<uint32_t>(t.raster.blackLevel());
        auto at = [&](int32_t j, int32_t g) { return t.at(j + mx, H - g - my); };

        // Inside the Rec709 gamut: normalised so that the largest component
        // is full scale, whatever the style.
        const int32_t ji = static_cast<int32_t>(0.35 * W), gi = static_cast<int32_t>(0.40 * H);
        // Outside it, inside the locus: x 0.1, y 0.6.
        const int32_t jo = static_cast<int32_t>(0.10 * W), go = static_cast<int32_t>(0.60 * H);
        const char *styles[] = {"shaded", "constrained", "full"};
        for (int style = 0; style < 3; ++style) {
            SCOPED_TRACE(styles[style]);
            t.poison();
            t.render({{"Pattern", "Chromaticity"}, {"Style", styles[style]}});
            const Rgb in = at(ji, gi);
            EXPECT_EQ(std::max({in.r, in.g, in.b}), top);
            expectNear(in, expectedPixel(W, H, ji, gi, s.bits, kRec709, style), 1, "inside");
            const Rgb out = at(jo, go);
            expectNear(out, expectedPixel(W, H, jo, go, s.bits, kRec709, style), 1, "outside");
            if (style == 1) {
                const uint32_t grey = (6553 * top + 32768) >> 16; // 102 at 10 bits, 25 at 8
                EXPECT_EQ(out, (Rgb{grey, grey, grey}));
            } else {
                EXPECT_EQ(std::min({out.r, out.g, out.b}), 0u);
                EXPECT_EQ(std::max({out.r, out.g, out.b}), style == 2 ? top : (49275 * top + 32768) >> 16);
            }
            // Outside the locus and in the margins: black at the raster's level.
            EXPECT_EQ(t.at(0, 0), (Rgb{k, k, k}));
            EXPECT_EQ(t.at(W - 1, H - 1), (Rgb{k, k, k}));
            EXPECT_EQ(t.at(mx - 1, H - go - my), (Rgb{k, k, k}));
            // Each row from trunc(W*left(y)) to trunc(W*right(y)) - 1.
            for (int32_t g : {H / 20, H / 4, H / 2, (3 * H) / 4, (4 * H) / 5}) {
                const double y = static_cast<double>(g) / H;
                const int32_t xl = static_cast<int32_t>(W * c->left(y)), xr = static_cast<int32_t>(W * c->right(y));
                ASSERT_LT(xl, xr) << g;
                EXPECT_EQ(at(xl - 1, g), (Rgb{k, k, k})) << g;
                EXPECT_NE(at(xl, g), (Rgb{k, k, k})) << g;
                EXPECT_NE(at(xr - 1, g), (Rgb{k, k, k})) << g;
                EXPECT_EQ(at(xr, g), (Rgb{k, k, k})) << g;
            }
            // Above the locus's tip nothing is drawn.
            for (int32_t j = 0; j < W - mx; ++j)
                ASSERT_EQ(at(j, static_cast<int32_t>(0.84 * H)), (Rgb{k, k, k})) << j;
        }
        // Every pixel written, every component in range.
        size_t poisoned = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                poisoned += t.raster.pixel(x, y) >= (uint64_t{1} << (3 * s.bits));
        EXPECT_EQ(poisoned, 0u);

        // The locus keeps full-range code values while black follows the levels.
        t.raster.setLevels(0, static_cast<int32_t>(top));
        const Rgb before = at(ji, gi);
        t.render({{"Pattern", "Chromaticity"}});
        EXPECT_EQ(t.at(0, 0), (Rgb{0, 0, 0}));
        EXPECT_EQ(at(ji, gi), before);
    }
}

TEST(Chromaticity, TheWhitePointPixelIsWhite)
{
    // Sizes with a column and a row whose 16.16 chromaticity is exactly D65
    // (20493, 21561).
    int32_t w = 0, j = 0, h = 0, g = 0;
    for (int32_t c = 1800; c < 2400 && !w; ++c)
        for (int32_t i = c * 31 / 100; i < c * 32 / 100; ++i)
            if (static_cast<int32_t>(static_cast<double>(i) / c * 65536.0) == 20493) {
                w = c, j = i;
                break;
            }
    for (int32_t c = 1000; c < 1600 && !h; ++c)
        for (int32_t i = c * 32 / 100; i < c * 34 / 100; ++i)
            if (static_cast<int32_t>(static_cast<double>(i) / c * 65536.0) == 21561) {
                h = c, g = i;
                break;
            }
    ASSERT_TRUE(w && h);
    for (const char *space : {"Rec709", "Rec601", "Custom"}) {
        PatternHarness t(w, h, 10);
        t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", space}});
        const Rgb p = t.at(j + w / 5, h - g - h / 10);
        EXPECT_GE(std::min({p.r, p.g, p.b}), 1022u) << space << " " << p;
    }
    // A custom white point lands where it says.
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Chromaticity"},
              {"RgbSpace", "Custom"},
              {"Whitepoint", "Custom"},
              {"White_x", "0.3125"},
              {"White_y", "0.3286895751953125"}});
    const int32_t jj = 600, gg = 355; // 16.16 (20480, 21541)
    const Rgb p = t.at(jj + 384, 1080 - gg - 108);
    EXPECT_GE(std::min({p.r, p.g, p.b}), 1022u) << p;
}

TEST(Chromaticity, CustomSpaceDefaultsAndRefusals)
{
    PatternHarness t(640, 360, 10);
    const size_t n = 640 * 360;
    std::vector<uint64_t> rec709(n), other(n);
    auto grab = [&](std::vector<uint64_t> &to) { std::copy(t.raster.data(), t.raster.data() + n, to.begin()); };
    t.render({{"Pattern", "Chromaticity"}});
    grab(rec709);
    // "Custom" without primaries is Rec709 with D65.
    t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", "custom"}});
    grab(other);
    EXPECT_EQ(other, rec709);
    // Rec601 and a D50 white give other pictures.
    t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", "Rec601"}});
    grab(other);
    EXPECT_NE(other, rec709);
    t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", "Custom"}, {"Whitepoint", "D50"}});
    grab(other);
    EXPECT_NE(other, rec709);
    // Primaries that give no space: logged, and the diagram is drawn in Rec709.
    for (Request r : {Request{{"Pattern", "Chromaticity"}, {"RgbSpace", "Custom"}, {"Red_y", "0"}},
                      Request{{"Pattern", "Chromaticity"}, {"RgbSpace", "Custom"}, {"Green_yy", "0"}},
                      Request{{"Pattern", "Chromaticity"},
                              {"RgbSpace", "Custom"},
                              {"Whitepoint", "Custom"},
                              {"White_y", "-3"}}}) {
        t.poison();
        t.render(r);
        grab(other);
        EXPECT_EQ(other, rec709);
    }
    // Out-of-range reals are held to their limits (Red_x 7 reads as 1).
    t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", "Custom"}, {"Red_x", "7"}, {"Gamma", "99"}});
    grab(other);
    t.render({{"Pattern", "Chromaticity"}, {"RgbSpace", "Custom"}, {"Red_x", "1"}});
    std::vector<uint64_t> held(n);
    grab(held);
    EXPECT_EQ(other, held);
}
