// Outlines written as clipped rows and columns give the pixels of four
// lines; window sides follow the square-root rule.
#include "OvPatternKit.h"
#include "TestRaster.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

TEST(PatternKit, OutlineMatchesFourLines)
{
    TestRaster fast(97, 61, 10), lines(97, 61, 10);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-40, 140);
    for (int i = 0; i < 400; ++i) {
        const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
        const uint64_t c = static_cast<uint64_t>(i + 1);
        fast.fill(0);
        lines.fill(0);
        ovOutline(fast, c, x0, y0, x1, y1);
        lines.drawLine(c, x0, y0, x1, y0);
        lines.drawLine(c, x1, y0, x1, y1);
        lines.drawLine(c, x1, y1, x0, y1);
        lines.drawLine(c, x0, y1, x0, y0);
        ASSERT_EQ(std::memcmp(fast.data(), lines.data(), 97 * 61 * 8), 0)
            << x0 << "," << y0 << " " << x1 << "," << y1;
    }
    // Degenerate and far-off rectangles.
    fast.fill(0);
    ovOutline(fast, 5, 3, 3, 3, 3);
    EXPECT_EQ(fast.pixel(3, 3), 5u);
    ovOutline(fast, 6, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
    EXPECT_EQ(fast.pixel(50, 30), 0u) << "the sides lie outside";
    // Far-off ends: the rows inside the frame are drawn in full.
    ovOutline(fast, 7, INT32_MAX, 10, INT32_MIN, 20);
    for (int32_t x = 0; x < 97; ++x) {
        ASSERT_EQ(fast.pixel(x, 10), 7u) << x;
        ASSERT_EQ(fast.pixel(x, 20), 7u) << x;
        ASSERT_NE(fast.pixel(x, 15), 7u) << x;
    }
    ovOutline(fast, 8, 40, INT32_MIN, 50, INT32_MAX - 1);
    for (int32_t y = 0; y < 61; ++y) {
        ASSERT_EQ(fast.pixel(40, y), 8u) << y;
        ASSERT_EQ(fast.pixel(50, y), 8u) << y;
    }
}

TEST(PatternKit, WindowSide)
{
    EXPECT_EQ(ovWindowSide(1920, 4), 384);
    EXPECT_EQ(ovWindowSide(1080, 4), 216);
    EXPECT_EQ(ovWindowSide(721, 4), 144);
    EXPECT_EQ(ovWindowSide(487, 4), 97);
    EXPECT_EQ(ovWindowSide(1920, 100), 1920);
    EXPECT_EQ(ovWindowSide(1, 4), 0);
}
