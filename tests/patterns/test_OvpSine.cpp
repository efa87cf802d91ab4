#include "PatternHarness.h"
#include "QiColor.h"
#include "QiSinusoid.h"

#include <string>

namespace {

// Column (or row) p of length l: i = int((p/l)^2 * 1023 * scale + 0.5) & 1023.
uint64_t shadeAt(const QiRaster &r, int32_t p, int32_t l, int32_t scale, uint64_t from, uint64_t to)
{
    const double q = static_cast<double>(p) / l;
    const int i = static_cast<int>(static_cast<int64_t>(q * q * 1023.0 * scale + 0.5) & 1023);
    return interpolateColor(r.bits(), qiSinusoidTable()[i] / 1023.0, from, to);
}

// Every pixel: each column (horizontal) or row (vertical) one shade.
void expectSweep(PatternHarness &t, bool horizontal, int32_t scale, uint64_t from, uint64_t to)
{
    const QiRaster &r = t.raster;
    for (int32_t y = 0; y < r.height(); ++y)
        for (int32_t x = 0; x < r.width(); ++x) {
            const uint64_t want = horizontal ? shadeAt(r, x, r.width(), scale, from, to)
                                             : shadeAt(r, y, r.height(), scale, from, to);
            ASSERT_EQ(r.pixel(x, y), want) << x << "," << y << (horizontal ? " horizontal" : " vertical");
        }
}

} // namespace

TEST(Sine, FirstColumnOrRowIsTheMidColourAndTheSweepFollowsItsIndex)
{
    PatternHarness t(1920, 1080, 10);
    // 64 + (940 - 64) * 511/1023 = 501.57, truncated.
    t.render({{"Pattern", "Sine"}, {"Orientation", "Horizontal"}});
    EXPECT_EQ(t.at(0, 0), (Rgb{501, 501, 501}));
    EXPECT_EQ(t.at(0, 1079), (Rgb{501, 501, 501}));
    // Column 960: (1/2)^2 * 1023 * 10 + 0.5 = 2558.0 -> index 510.
    EXPECT_EQ(t.raster.pixel(960, 500),
              interpolateColor(10, qiSinusoidTable()[510] / 1023.0, t.grey(64), t.grey(940)));
    expectSweep(t, true, 10, t.grey(64), t.grey(940));

    // Vertical is the default: rows carry the sweep.
    t.render({{"Pattern", "Sine"}});
    EXPECT_EQ(t.at(0, 0), (Rgb{501, 501, 501}));
    EXPECT_EQ(t.at(1919, 0), (Rgb{501, 501, 501}));
    expectSweep(t, false, 10, t.grey(64), t.grey(940));

    // Scale clamps to 1..255; colours come from the request.
    t.render({{"Pattern", "Sine"}, {"Orientation", "horizontal"}, {"Scale", "0"}});
    expectSweep(t, true, 1, t.grey(64), t.grey(940));
    t.render({{"Pattern", "Sine"}, {"Scale", "9999"}, {"StartColor_Red", "1023"}, {"StartColor_Green", "0"},
              {"StartColor_Blue", "0"}, {"EndColor_Red", "0"}, {"EndColor_Green", "0"}, {"EndColor_Blue", "0x3ff"}});
    EXPECT_EQ(t.at(5, 0), (Rgb{512, 0, 511})); // 1023 - 1023*511/1023 = 512.0; 1023*511/1023 = 511.0
    expectSweep(t, false, 255, t.raster.pack(1023, 0, 0), t.raster.pack(0, 0, 1023));
}

TEST(Sine, EightBitOddSize)
{
    PatternHarness t(721, 487, 8);
    // 16 + (235 - 16) * 511/1023 = 125.39.
    t.render({{"Pattern", "Sine"}, {"Orientation", "Horizontal"}, {"Scale", "255"}});
    EXPECT_EQ(t.at(0, 486), (Rgb{125, 125, 125}));
    expectSweep(t, true, 255, t.grey(16), t.grey(235));
    t.render({{"Pattern", "Sine"}, {"Scale", "37"}});
    EXPECT_EQ(t.at(720, 0), (Rgb{125, 125, 125}));
    expectSweep(t, false, 37, t.grey(16), t.grey(235));
}

TEST(Sine, OptionsAsPublished)
{
    PatternHarness t(64, 48, 10);
    OvPatternRenderer *r = t.engine.findRenderer("Sine");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->revision, "$Revision: 1.6 $");
    std::vector<QiParams> opts;
    ASSERT_TRUE(t.engine.getPatternOpts("Sine", opts));
    ASSERT_EQ(opts.size(), 4u);
    auto text = [&](size_t i, const char *key) {
        const char *v = "";
        opts[i].get(key, v);
        return std::string(v);
    };
    EXPECT_EQ(text(0, "Name"), "Scale");
    EXPECT_EQ(text(0, "Description"), "The scale of the sine wave");
    EXPECT_EQ(text(0, "MinValue") + "/" + text(0, "MaxValue") + "/" + text(0, "DefaultValue"), "1/255/10");
    EXPECT_EQ(text(1, "Name"), "Orientation");
    EXPECT_EQ(text(1, "Description"), "The orientation of the pattern (horiz or vert)");
    EXPECT_EQ(text(1, "DefaultValue"), "Vertical");
    EXPECT_EQ(text(1, "Orientation0") + "," + text(1, "Orientation1"), "Horizontal,Vertical");
    EXPECT_EQ(text(2, "Name") + ":" + text(2, "Description"), "StartColor:The RGB starting color");
    EXPECT_EQ(text(3, "Name") + ":" + text(3, "Description"), "EndColor:The RGB ending color");
    // Black and white of the raster the engine started on.
    EXPECT_EQ(text(2, "DefaultValueR") + text(2, "DefaultValueG") + text(2, "DefaultValueB"), "646464");
    EXPECT_EQ(text(3, "DefaultValueR") + text(3, "DefaultValueG") + text(3, "DefaultValueB"), "940940940");
    EXPECT_EQ(text(0, "uiPredicatesOnField"), "");
}
