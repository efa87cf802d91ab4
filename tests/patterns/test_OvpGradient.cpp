#include "PatternHarness.h"

#include <cmath>
#include <vector>

namespace {

Rgb grey(uint32_t v) { return {v, v, v}; }

// Every pixel of row y equals the one at column 0 (a horizontal band).
bool rowUniform(const PatternHarness &t, int32_t y, int32_t x0 = 0, int32_t x1 = -1)
{
    if (x1 < 0)
        x1 = t.raster.width();
    for (int32_t x = x0; x < x1; ++x)
        if (t.raster.pixel(x, y) != t.raster.pixel(x0, y))
            return false;
    return true;
}

bool columnUniform(const PatternHarness &t, int32_t x, int32_t y0 = 0, int32_t y1 = -1)
{
    if (y1 < 0)
        y1 = t.raster.height();
    for (int32_t y = y0; y < y1; ++y)
        if (t.raster.pixel(x, y) != t.raster.pixel(x, y0))
            return false;
    return true;
}

} // namespace

TEST(Gradient, HStair11AtEightBitsFullRangeHasElevenBandsOfTheStatedLevels)
{
    PatternHarness t(1920, 1080, 8, 0, 255);
    ASSERT_NE(t.render({{"Pattern", "HStair11"}}), nullptr);
    const uint32_t levels[11] = {0, 25, 51, 76, 102, 127, 153, 178, 204, 229, 255};
    for (int i = 0; i < 11; ++i) {
        const int32_t top = i * 1080 / 11, bottom = (i + 1) * 1080 / 11 - 1;
        EXPECT_TRUE(bottom - top + 1 == 98 || bottom - top + 1 == 99) << i;
        EXPECT_EQ(t.at(0, top), grey(levels[i])) << "band " << i;
        EXPECT_EQ(t.at(1919, bottom), grey(levels[i])) << "band " << i;
        EXPECT_TRUE(rowUniform(t, top) && rowUniform(t, bottom)) << i;
        if (i > 0) {
            EXPECT_EQ(t.at(700, top - 1), grey(levels[i - 1])) << "band " << i << " starts at row " << top;
        }
    }
}

TEST(Gradient, VRampRunsFromStartToEndOneColumnPerStep)
{
    for (int32_t width : {1920, 721}) {
        PatternHarness t(width, width == 1920 ? 1080 : 487, 10);
        t.render({{"Pattern", "VRamp"}});
        EXPECT_EQ(t.at(0, 0), grey(64)) << width;
        EXPECT_EQ(t.at(width - 1, t.raster.height() - 1), grey(940)) << "the last column is exactly the end colour";
        uint32_t previous = 0;
        for (int32_t x = 0; x < width; ++x) {
            const Rgb c = t.at(x, 0);
            ASSERT_EQ(c, grey(c.r)) << x;
            ASSERT_GE(c.r, previous) << x;
            // Column x of the ramp is trunc(64 + 876 * x / (width - 1)).
            ASSERT_EQ(c.r, static_cast<uint32_t>(64 + 876.0 * (static_cast<double>(x) / (width - 1)))) << x;
            previous = c.r;
            ASSERT_TRUE(columnUniform(t, x)) << x;
        }
        // Colours: a red-to-blue ramp keeps each component's own line.
        t.render({{"Pattern", "VRamp"},
                  {"StartColor_Red", "0x3ff"},
                  {"StartColor_Green", "0"},
                  {"StartColor_Blue", "0"},
                  {"EndColor_Red", "0"},
                  {"EndColor_Green", "0"},
                  {"EndColor_Blue", "1023"}});
        EXPECT_EQ(t.at(0, 5), (Rgb{1023, 0, 0}));
        EXPECT_EQ(t.at(width - 1, 5), (Rgb{0, 0, 1023}));
    }
}

TEST(Gradient, MirrorPutsTheEndColourInTheMiddleBand)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Gradient"}, {"Steps", "11"}, {"Mirror", "true"}});
    // Vertical by default: bands are columns i*1920/11.
    auto band = [](int i) { return i * 1920 / 11 + 3; };
    EXPECT_EQ(t.at(band(0), 0), grey(64));
    EXPECT_EQ(t.at(band(10), 1079), grey(64));
    EXPECT_EQ(t.at(band(5), 500), grey(940));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(t.at(band(i), 10), t.at(band(10 - i), 10)) << i;
    // Band 2: t = 1 - |(0.2 - 0.5) * 2| = 0.4.
    EXPECT_EQ(t.at(band(2), 10), grey(static_cast<uint32_t>(64 + 876 * 0.4)));
}

TEST(Gradient, SplitsAlternateTheReversedStaircaseOrTheEightBitRamp)
{
    PatternHarness t(1920, 1080, 10);
    // Eleven horizontal bands, split at x = 960: the right half reversed.
    t.render({{"Pattern", "HStair11"}, {"Splits", "1"}});
    const int32_t band3 = 3 * 1080 / 11;
    EXPECT_EQ(t.at(959, band3), grey(326)); // trunc(64 + 876 * 0.3)
    EXPECT_EQ(t.at(960, band3), grey(677)); // trunc(940 - 876 * 0.3)
    EXPECT_EQ(t.at(1919, 0), grey(940));
    EXPECT_EQ(t.at(0, 0), grey(64));
    EXPECT_TRUE(rowUniform(t, band3, 0, 960) && rowUniform(t, band3, 960, 1920));

    // Vertical: the lower half from row 540.
    t.render({{"Pattern", "VStair11"}, {"Splits", "1"}});
    const int32_t col3 = 3 * 1920 / 11;
    EXPECT_EQ(t.at(col3, 539), grey(326));
    EXPECT_EQ(t.at(col3, 540), grey(677));

    // A ramp (c >= 52): the other strip is the same ramp at 8-bit precision.
    t.render({{"Pattern", "VRamp"}, {"Splits", "1"}});
    for (int32_t x : {0, 1, 2, 3, 500, 1234, 1919}) {
        const uint32_t full = t.at(x, 0).r;
        EXPECT_EQ(t.at(x, 539), grey(full));
        EXPECT_EQ(t.at(x, 540), grey(full & 0x3FC)) << x;
    }
    // 51 steps still reverse, 52 steps take the 8-bit ramp.
    t.render({{"Pattern", "Gradient"}, {"Steps", "51"}, {"Splits", "1"}});
    EXPECT_EQ(t.at(0, 1079), grey(940));
    t.render({{"Pattern", "Gradient"}, {"Steps", "52"}, {"Splits", "1"}});
    EXPECT_EQ(t.at(0, 1079), grey(64));

    // Splits 3 (DynamicRange): four strips, odd ones at 8-bit precision,
    // mirrored so each rises from the start at the edges to the end.
    t.render({{"Pattern", "DynamicRange"}});
    for (int32_t y : {0, 269, 540, 809})
        EXPECT_EQ(t.at(0, y), grey(64)) << y;
    EXPECT_EQ(t.at(1919, 0), grey(64));
    int32_t x = 300;
    while (x < 960 && (t.at(x, 0).r & 3) == 0)
        ++x;
    const uint32_t full = t.at(x, 0).r;
    ASSERT_NE(full & 3, 0u) << "a column whose level has low bits";
    EXPECT_EQ(t.at(x, 269).r, full);
    EXPECT_EQ(t.at(x, 270).r, full & 0x3FC);
    EXPECT_EQ(t.at(x, 540).r, full);
    EXPECT_EQ(t.at(x, 810).r, full & 0x3FC);
}

TEST(Gradient, AtEightBitsTheEightBitRampIsTheRampItself)
{
    // Defaults follow the levels of the engine that registered last, so
    // each depth gets its own harness.
    PatternHarness e(1920, 1080, 8);
    e.render({{"Pattern", "HRamp"}, {"Splits", "1"}});
    for (int32_t y = 0; y < 1080; y += 7)
        ASSERT_TRUE(rowUniform(e, y)) << y;
    EXPECT_EQ(e.at(0, 0), grey(16));
    EXPECT_EQ(e.at(1919, 1079), grey(235));
}

TEST(Gradient, GammaRaisesIntermediateLevelsAndGammaOneLeavesThem)
{
    PatternHarness t(1920, 1080, 8, 0, 255);
    t.render({{"Pattern", "HStair11"}});
    std::vector<uint32_t> linear;
    for (int i = 0; i < 11; ++i)
        linear.push_back(t.at(0, i * 1080 / 11).r);
    t.render({{"Pattern", "HStair11"}, {"Gamma", "1.0"}});
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(t.at(100, i * 1080 / 11).r, linear[i]) << i;
    t.render({{"Pattern", "HStair11"}, {"Gamma", "2.2"}});
    EXPECT_EQ(t.at(0, 0), grey(0));
    EXPECT_EQ(t.at(0, 1079), grey(255));
    for (int i = 1; i < 10; ++i) {
        const uint32_t v = t.at(0, i * 1080 / 11).r;
        EXPECT_GT(v, linear[i]) << i;
        EXPECT_EQ(v, static_cast<uint32_t>(std::pow(linear[i] / 255.0, 1 / 2.2) * 255 + 0.5)) << i;
    }
    // Clamped to 0.1 .. 5.0.
    t.render({{"Pattern", "HStair11"}, {"Gamma", "50"}});
    EXPECT_EQ(t.at(0, 1080 / 11).r, static_cast<uint32_t>(std::pow(25 / 255.0, 1 / 5.0) * 255 + 0.5));
}

TEST(Gradient, StaircaseStylesAndTheirLevels)
{
    PatternHarness t(1920, 1080, 10);
    const uint32_t K = 64, W = 940;
    // Horizontal: columns k*1920/7, bands of steps downwards.
    auto column = [](int k) { return k * 1920 / 7 + 1; };
    t.render({{"Pattern", "HStair11"}, {"Style", "RGBCMYK_hi"}});
    const Rgb full[7] = {{W, K, K}, {K, W, K}, {K, K, W}, {K, W, W}, {W, W, K}, {W, K, W}, {K, K, K}};
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(t.at(column(k), 0), full[k]) << "first band, column " << k;
        EXPECT_EQ(t.at(column(k), 1079), grey(W)) << "last band is white, column " << k;
    }
    EXPECT_EQ(t.at(1920 / 7 - 1, 0), full[0]);
    EXPECT_EQ(t.at(1920 / 7, 0), full[1]);
    // Band 3 of 11: lo = trunc(64 + 876 * 0.3) = 326.
    EXPECT_EQ(t.at(column(0), 3 * 1080 / 11), (Rgb{W, 326, 326}));

    t.render({{"Pattern", "HStair11"}, {"Style", "RGBCMYK_lo"}});
    EXPECT_EQ(t.at(column(0), 0), grey(K));
    EXPECT_EQ(t.at(column(3), 3 * 1080 / 11), (Rgb{K, 326, 326}));
    EXPECT_EQ(t.at(column(6), 1079), grey(W));
    EXPECT_EQ(t.at(column(2), 1079), (Rgb{K, K, W}));

    // Full level at mid-screen, then desaturating toward white.
    t.render({{"Pattern", "HStair11"}, {"Style", "rgbcmyk"}});
    EXPECT_EQ(t.at(column(0), 0), grey(K));
    EXPECT_EQ(t.at(column(4), 2 * 1080 / 11), (Rgb{414, 414, K})); // h = trunc(64 + 876 * 0.4)
    EXPECT_EQ(t.at(column(4), 5 * 1080 / 11), (Rgb{W, W, K}));
    EXPECT_EQ(t.at(column(6), 5 * 1080 / 11), grey(502));
    EXPECT_EQ(t.at(column(5), 8 * 1080 / 11), (Rgb{W, 589, W})); // l = trunc(64 + 876 * 0.6)
    EXPECT_EQ(t.at(column(0), 1079), grey(W));

    // Vertical: seven rows k*H/7 at an odd size, bands of steps rightwards.
    PatternHarness o(721, 487, 8);
    o.render({{"Pattern", "VStair11"}, {"Style", "RGBCMYK_hi"}});
    for (int k = 0; k < 7; ++k) {
        const int32_t top = k * 487 / 7, bottom = (k + 1) * 487 / 7 - 1;
        const Rgb want[7] = {{235, 16, 16}, {16, 235, 16}, {16, 16, 235}, {16, 235, 235},
                             {235, 235, 16}, {235, 16, 235}, {16, 16, 16}};
        EXPECT_EQ(o.at(0, top), want[k]) << k;
        EXPECT_EQ(o.at(721 / 11 - 1, bottom), want[k]) << k;
        EXPECT_EQ(o.at(720, top), grey(235)) << k;
    }
    EXPECT_EQ(o.at(721 / 11, 0), (Rgb{235, 37, 37})); // trunc(16 + 219 * 0.1)
}

TEST(Gradient, OneStepDrawsTheFirstStepAndUnknownTextsTakeDefaults)
{
    PatternHarness t(721, 487, 10);
    t.render({{"Pattern", "Gradient"}, {"Steps", "1"}});
    for (int32_t y : {0, 243, 486})
        for (int32_t x : {0, 360, 720})
            EXPECT_EQ(t.at(x, y), grey(64)) << "t = 0 for a single step";
    t.render({{"Pattern", "Gradient"}, {"Steps", "1"}, {"Splits", "1"}, {"Orientation", "Horizontal"}});
    EXPECT_EQ(t.at(0, 0), grey(64));
    EXPECT_EQ(t.at(720, 486), grey(940)) << "the reversed staircase's first step";
    t.render({{"Pattern", "Gradient"}, {"Steps", "1"}, {"Style", "RGBCMYK_hi"}});
    EXPECT_EQ(t.at(0, 0), (Rgb{940, 64, 64}));

    // Unmatched Orientation and Style texts: "Vertical" and "Normal".
    TestRaster a(721, 487, 10);
    t.render({{"Pattern", "Gradient"}, {"Orientation", "diagonal"}, {"Style", "fancy"}, {"Steps", "300"}});
    std::vector<uint64_t> odd(t.raster.data(), t.raster.data() + 721 * 487);
    t.render({{"Pattern", "Gradient"}, {"Orientation", "Vertical"}, {"Style", "Normal"}, {"Steps", "255"}});
    EXPECT_TRUE(std::equal(odd.begin(), odd.end(), t.raster.data())) << "Steps clamps to 255";
}

TEST(Gradient, AliasesCarryEarlierSettingsUntilTheMapIsCleared)
{
    PatternHarness t(64, 64, 10);
    auto stored = [&](const char *alias) {
        QiParams p;
        t.engine.resolvePattern(alias, p);
        return p;
    };
    struct {
        const char *alias, *orientation, *steps;
    } rows[] = {{"Ramp", "Horizontal", "0"},      {"HRamp", "Horizontal", "0"},    {"VRamp", "Vertical", "0"},
                {"HStair11", "Horizontal", "11"}, {"VStair11", "Vertical", "11"},  {"VStair21", "Vertical", "21"},
                {"HStair21", "Horizontal", "21"}};
    for (const auto &row : rows) {
        QiParams p = stored(row.alias);
        const char *v = nullptr;
        ASSERT_TRUE(p.get("Pattern", v)) << row.alias;
        EXPECT_STREQ(v, "Gradient");
        ASSERT_TRUE(p.get("Orientation", v)) << row.alias;
        EXPECT_STREQ(v, row.orientation) << row.alias;
        ASSERT_TRUE(p.get("Steps", v));
        EXPECT_STREQ(v, row.steps) << row.alias;
        EXPECT_FALSE(p.get("Splits", v)) << row.alias;
    }
    QiParams d = stored("DynamicRange");
    const char *v = nullptr;
    EXPECT_FALSE(d.get("Orientation", v)) << "cleared before DynamicRange";
    ASSERT_TRUE(d.get("Steps", v));
    EXPECT_STREQ(v, "0");
    ASSERT_TRUE(d.get("Splits", v));
    EXPECT_STREQ(v, "3");
    ASSERT_TRUE(d.get("Mirror", v));
    EXPECT_STREQ(v, "true");
}

TEST(Gradient, OptionsAsPublished)
{
    PatternHarness t(64, 64, 10);
    const std::vector<std::string> want = {
        "Steps|Integer|The number of steps in the ramp/staircase (0 for ramp)|DefaultValue=11|MaxValue=255|MinValue=0",
        "Orientation|Enumeration|The orientation of the pattern (horiz or vert)|DefaultValue=Vertical|"
        "Orientation0=Horizontal|Orientation1=Vertical|nVal=2",
        "Style|Enumeration|The Style to use (Normal, RGBCMYK, RGBCMYK_lo, RGBCMYK_hi)|DefaultValue=Normal|Style0=Normal|"
        "Style1=RGBCMYK|Style2=RGBCMYK_lo|Style3=RGBCMYK_hi|nVal=4",
        "Gamma|Double|The gamma to use for the ramp gradient|DefaultValue=1.000000|MaxValue=5.000000|MinValue=0.100000",
        "Mirror|Boolean|Mirror makes the gradient from start to end to start, (i.e. endLevel/endColor is at the middle "
        "and reflected back)|DefaultValue=false",
        "StartColor|RGB|The RGB starting color|DefaultIsRGB=false|DefaultValueB=64|DefaultValueG=64|DefaultValueR=64|"
        "when Style=Normal/1",
        "EndColor|RGB|The RGB ending color|DefaultIsRGB=false|DefaultValueB=940|DefaultValueG=940|DefaultValueR=940|"
        "when Style=Normal/1",
        "Splits|Integer|The number of strips to render|DefaultValue=0|MaxValue=540|MinValue=0|when Style=Normal/1",
    };
    EXPECT_EQ(publishedOptions(t.engine, "Gradient"), want);
    EXPECT_STREQ(t.engine.findRenderer("Gradient")->revision, "$Revision: 1.5 $");
}
