// One-pixel gratings: lines on even columns or rows only, W/2 (H/2) of them,
// and the pixel checkerboard with x + y even high.
#include "PatternHarness.h"

#include <cstring>

namespace {

bool rowsAllEqual(const QiRaster &r)
{
    for (int32_t y = 1; y < r.height(); ++y)
        if (std::memcmp(r.row(y), r.row(0), static_cast<size_t>(r.width()) * 8) != 0)
            return false;
    return true;
}

} // namespace

TEST(Resolution, VerticalLinesOnEvenColumnsAt1080)
{
    PatternHarness t(1920, 1080, 10);
    t.poison();
    t.render({{"Pattern", "Resolution"}});
    int high = 0;
    for (int32_t x = 0; x < 1920; ++x) {
        const Rgb expected = x % 2 == 0 ? Rgb{940, 940, 940} : Rgb{64, 64, 64};
        ASSERT_EQ(t.at(x, 0), expected) << x;
        high += x % 2 == 0;
    }
    EXPECT_EQ(high, 960);
    EXPECT_TRUE(rowsAllEqual(t.raster)) << "lines run the full height";

    // Colours from the request, hexadecimal accepted; an unknown style is VLines.
    t.render({{"Pattern", "Resolution"},
              {"Style", "diagonal"},
              {"HiColor_Red", "0x3ff"},
              {"HiColor_Green", "0"},
              {"HiColor_Blue", "0"},
              {"LowColor_Green", "100"}});
    EXPECT_EQ(t.at(0, 500), (Rgb{1023, 0, 0}));
    EXPECT_EQ(t.at(1, 500), (Rgb{64, 100, 64}));
    EXPECT_EQ(t.at(1918, 1079), (Rgb{1023, 0, 0}));
    EXPECT_EQ(t.at(1919, 1079), (Rgb{64, 100, 64}));
}

TEST(Resolution, OddSizeKeepsTheLastColumnAndRowLow)
{
    PatternHarness t(721, 487, 8);
    const Rgb hi{235, 235, 235}, lo{16, 16, 16};

    t.poison();
    t.render({{"Pattern", "Resolution"}, {"Style", "VLines"}});
    for (int32_t x = 0; x < 721; ++x)
        ASSERT_EQ(t.at(x, 0), (x % 2 == 0 && x < 720) ? hi : lo) << x;
    EXPECT_EQ(t.at(718, 486), hi);
    EXPECT_EQ(t.at(720, 486), lo) << "360 lines: column 720 is not one";
    EXPECT_TRUE(rowsAllEqual(t.raster));

    t.poison();
    t.render({{"Pattern", "Resolution"}, {"Style", "hlines"}});
    for (int32_t y = 0; y < 487; ++y)
        for (int32_t x : {0, 1, 360, 720})
            ASSERT_EQ(t.at(x, y), (y % 2 == 0 && y < 486) ? hi : lo) << x << "," << y;

    t.poison();
    t.render({{"Pattern", "Resolution"}, {"Style", "Pixels"}});
    for (int32_t y = 0; y < 487; ++y)
        for (int32_t x = 0; x < 721; ++x)
            ASSERT_EQ(t.at(x, y), (x + y) % 2 == 0 ? hi : lo) << x << "," << y;
}

TEST(Resolution, PixelsAndHorizontalLinesAt1080)
{
    PatternHarness t(1920, 1080, 10);
    const Rgb hi{940, 940, 940}, lo{64, 64, 64};
    t.render({{"Pattern", "Resolution"}, {"Style", "HLines"}});
    for (int32_t y = 0; y < 1080; ++y)
        ASSERT_EQ(t.at(y % 1920, y), y % 2 == 0 ? hi : lo) << y;
    EXPECT_EQ(t.at(1919, 1078), hi);
    EXPECT_EQ(t.at(1919, 1079), lo);

    t.render({{"Pattern", "Resolution"}, {"Style", "Pixels"}});
    for (int32_t y : {0, 1, 539, 540, 1078, 1079})
        for (int32_t x = 0; x < 1920; ++x)
            ASSERT_EQ(t.at(x, y), (x + y) % 2 == 0 ? hi : lo) << x << "," << y;
}
