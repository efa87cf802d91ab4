#include "OvPatternKit.h"
#include "PatternHarness.h"

namespace {

Rgb grey(uint32_t v) { return {v, v, v}; }

// A label over the swatch column under (x, y), whose level is bg.
::testing::AssertionResult swatchLabel(PatternHarness &t, const char *text, uint32_t colour, uint32_t bg, double x,
                                       int32_t y)
{
    int32_t column = 0;
    while (column < 11 && ovSwatchColumn(t.raster.width(), column).end <= static_cast<int32_t>(x))
        ++column;
    const OvSpan under = ovSwatchColumn(t.raster.width(), column);
    return labelAt(t, text, colour, bg, static_cast<int32_t>(x), y, under.start, under.end);
}

} // namespace

TEST(Contrast, SwatchesAroundWhiteOnThePatch)
{
    {
        PatternHarness t(1920, 1080, 8);
        t.render({{"Pattern", "Contrast"}});
        // Patch x 270 .. 1702, y 240 .. 839 in the default 255.
        EXPECT_EQ(t.at(270, 240), grey(255));
        EXPECT_EQ(t.at(1702, 839), grey(255));
        EXPECT_EQ(t.at(269, 240), grey(16));
        EXPECT_EQ(t.at(270, 239), grey(16));
        EXPECT_EQ(t.at(1703, 839), grey(16));
        EXPECT_EQ(t.at(1702, 840), grey(16));
        for (int k = 0; k < 12; ++k) {
            const int32_t x0 = 1920 * (12 + 4 * k) / 71, x1 = 1920 * (15 + 4 * k) / 71 - 1;
            EXPECT_EQ(t.at(x0, 280), grey(231 + k)) << k;
            EXPECT_EQ(t.at(x1, 519), grey(231 + k)) << k;
            EXPECT_EQ(t.at(x0, 560), grey(243 + k)) << k;
            EXPECT_EQ(t.at(x1, 799), grey(243 + k)) << k;
            EXPECT_EQ(t.at(x1 + 1, 560), grey(255)) << k;
        }
        EXPECT_TRUE(swatchLabel(t, "235", 192, 235, 1920 * 29.5 / 71, 400));
        EXPECT_TRUE(swatchLabel(t, "100%", 192, 235, 1920 * 29.5 / 71, 480));
        EXPECT_TRUE(swatchLabel(t, "254", 192, 254, 1920 * 57.5 / 71, 680));
        EXPECT_FALSE(swatchLabel(t, "100%", 192, 236, 1920 * 33.5 / 71, 480));
    }
    PatternHarness t(721, 487, 10);
    t.render({{"Pattern", "Contrast"}});
    EXPECT_EQ(t.at(721 * 10 / 71, 487 * 6 / 27), grey(1020)) << "default min(1023, 1020)";
    EXPECT_EQ(t.at(721 * 12 / 71, 487 * 7 / 27), grey(924));
    EXPECT_EQ(t.at(721 * 56 / 71, 487 * 14 / 27), grey(1016));
    EXPECT_EQ(t.at(0, 0), grey(64));
    EXPECT_TRUE(swatchLabel(t, "940", 768, 940, static_cast<int32_t>(721 * 29.5 / 71), 487 * 10 / 27));
    EXPECT_TRUE(swatchLabel(t, "100%", 768, 940, static_cast<int32_t>(721 * 29.5 / 71), 487 * 12 / 27));
    t.render({{"Pattern", "Contrast"}, {"bgLevel_Red", "100"}, {"bgLevel_Green", "200"}, {"bgLevel_Blue", "300"}});
    EXPECT_EQ(t.at(721 * 10 / 71, 487 * 6 / 27), (Rgb{100, 200, 300}));
}

TEST(Contrast, OptionsAsPublishedFollowTheDepth)
{
    {
        PatternHarness t(64, 64, 10);
        EXPECT_EQ(publishedOptions(t.engine, "Contrast"),
                  std::vector<std::string>{"bgLevel|RGB|The color/level of the patch behind the swatches|"
                                           "DefaultIsRGB=false|DefaultValueB=1020|DefaultValueG=1020|"
                                           "DefaultValueR=1020"});
        EXPECT_STREQ(t.engine.findRenderer("Contrast")->revision, "$Revision: 1.10 $");
    }
    PatternHarness t(64, 64, 8);
    EXPECT_NE(publishedOptions(t.engine, "Contrast")[0].find("DefaultValueR=255"), std::string::npos);
}
