// Circle radii and centres, grid lines, the border and the nested
// rectangles' corners, at 1920x1080 and an odd size.
#include "PatternHarness.h"

#include <cstring>

TEST(Geometry, CirclesRectanglesAndLinesAt1080)
{
    PatternHarness t(1920, 1080, 10);
    const Rgb white{940, 940, 940}, black{64, 64, 64}, red{940, 64, 64}, yellow{940, 940, 64}, green{64, 940, 64};
    t.poison();
    t.render({{"Pattern", "Geometry"}});

    // Centre circle: radius 459 about (960, 540); its top and bottom touch
    // the green rectangle, drawn later.
    EXPECT_EQ(t.at(960 + 459, 540), white);
    EXPECT_EQ(t.at(960 - 459, 540), white);
    EXPECT_EQ(t.at(960, 540 + 459), green);
    EXPECT_EQ(t.at(960, 540 - 459), green);
    EXPECT_EQ(t.at(960 + 460, 540), black);
    EXPECT_EQ(t.at(960 + 458, 540), black);
    EXPECT_EQ(t.at(960 - 460, 540), black);
    // Corner circles: radius 183 about (327, 264), (1593, 264), (327, 816),
    // (1593, 816); their outer points lie on the green rectangle too.
    const int cx[] = {327, 1593, 327, 1593}, cy[] = {264, 264, 816, 816};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const int in = i % 2 == 0 ? 1 : -1, down = i < 2 ? 1 : -1; // towards the centre
        EXPECT_EQ(t.at(cx[i], cy[i]), black);
        EXPECT_EQ(t.at(cx[i] + in * 183, cy[i]), white);
        EXPECT_EQ(t.at(cx[i] + in * 184, cy[i]), black);
        EXPECT_EQ(t.at(cx[i] + in * 182, cy[i]), black);
        EXPECT_EQ(t.at(cx[i] - in * 183, cy[i]), green);
        EXPECT_EQ(t.at(cx[i] - in * 182, cy[i]), black);
        EXPECT_EQ(t.at(cx[i], cy[i] + down * 183), white);
        EXPECT_EQ(t.at(cx[i], cy[i] + down * 184), black);
        EXPECT_EQ(t.at(cx[i], cy[i] - down * 183), green);
        EXPECT_EQ(t.at(cx[i], cy[i] - down * 182), black);
    }

    // Red from (48, 27) to (1872, 1053), yellow (96, 54)-(1824, 1026), green
    // (144, 81)-(1776, 999).
    struct Box {
        int x0, y0, x1, y1;
        Rgb c;
    };
    for (const Box &b : {Box{48, 27, 1872, 1053, red}, Box{96, 54, 1824, 1026, yellow}, Box{144, 81, 1776, 999, green}}) {
        EXPECT_EQ(t.at(b.x0, b.y0), b.c);
        EXPECT_EQ(t.at(b.x1, b.y0), b.c);
        EXPECT_EQ(t.at(b.x0, b.y1), b.c);
        EXPECT_EQ(t.at(b.x1, b.y1), b.c);
        EXPECT_EQ(t.at(1000, b.y0), b.c);
        EXPECT_EQ(t.at(1000, b.y1), b.c);
        EXPECT_EQ(t.at(b.x0, 500), b.c);
        EXPECT_EQ(t.at(b.x1, 500), b.c);
        EXPECT_EQ(t.at(1000, b.y0 - 1), black);
        EXPECT_EQ(t.at(1000, b.y1 + 1), black);
        EXPECT_EQ(t.at(b.x1 + 1, 500), black);
    }
    // Border, and grid lines at x = 384j and y = 216j across everything
    // but the rectangles (drawn after them).
    for (int32_t x = 0; x < 1920; ++x) {
        ASSERT_EQ(t.at(x, 0), white) << x;
        ASSERT_EQ(t.at(x, 1079), white) << x;
    }
    for (int32_t y = 0; y < 1080; ++y) {
        ASSERT_EQ(t.at(0, y), white) << y;
        ASSERT_EQ(t.at(1919, y), white) << y;
    }
    EXPECT_EQ(t.at(384, 500), white);
    EXPECT_EQ(t.at(383, 500), black);
    EXPECT_EQ(t.at(1536, 1079 - 10), white);
    EXPECT_EQ(t.at(384, 27), red);
    EXPECT_EQ(t.at(10, 216), white);
    EXPECT_EQ(t.at(10, 864), white);
    EXPECT_EQ(t.at(10, 865), black);
    // The diagonals cross in the centre.
    EXPECT_EQ(t.at(960, 540), white);

    // Line counts are clamped to 2..480.
    PatternHarness clampedHi(1920, 1080, 10), asked(1920, 1080, 10);
    clampedHi.render({{"Pattern", "Geometry"}, {"hLines", "100000"}, {"vLines", "1"}});
    asked.render({{"Pattern", "Geometry"}, {"hLines", "480"}, {"vLines", "2"}});
    EXPECT_EQ(std::memcmp(clampedHi.raster.data(), asked.raster.data(), 1920 * 1080 * 8), 0);
    EXPECT_EQ(asked.at(960, 500), white) << "two vertical lines: 0 and 960";
    EXPECT_EQ(asked.at(700, 2), white) << "480 horizontal lines: y = 9j/4";
    EXPECT_EQ(asked.at(700, 3), black);
}

TEST(Geometry, OddSizeAtEightBits)
{
    PatternHarness t(721, 487, 8);
    const Rgb white{235, 235, 235}, black{16, 16, 16}, red{235, 16, 16};
    t.poison();
    t.render({{"Pattern", "Geometry"}, {"hLines", "3"}, {"vLines", "7"}});
    // Centre circle radius 206 about (360, 243).
    EXPECT_EQ(t.at(360 + 206, 243), white);
    EXPECT_EQ(t.at(360 + 207, 243), black);
    EXPECT_EQ(t.at(360, 243 - 206), white);
    // Corner radius 82; r = 54, u = 36: centres (136, 118), (585, 118),
    // (136, 369), (585, 369).
    EXPECT_EQ(t.at(136 + 82, 118), white);
    EXPECT_EQ(t.at(585 - 82, 118), white);
    EXPECT_EQ(t.at(136, 369 + 82), white);
    EXPECT_EQ(t.at(585, 369 - 82), white);
    EXPECT_EQ(t.at(585, 369 - 83), black);
    // Red from (18, 12) to (702, 474).
    EXPECT_EQ(t.at(18, 12), red);
    EXPECT_EQ(t.at(702, 474), red);
    EXPECT_EQ(t.at(703, 300), black);
    // Vertical lines at 721j/7: 0, 103, 206, ...; horizontal at 487j/3: 0, 162, 324.
    EXPECT_EQ(t.at(103, 300), white);
    EXPECT_EQ(t.at(104, 300), black);
    EXPECT_EQ(t.at(300, 162), white);
    EXPECT_EQ(t.at(300, 324), white);
    EXPECT_EQ(t.at(300, 325), black);
    EXPECT_EQ(t.at(720, 486), white);
}

// The frame against the definition drawn step by step with single lines and
// circles, in its order, for several sizes and line counts.
TEST(Geometry, MatchesTheStepByStepDefinition)
{
    struct Case {
        int W, H, bits, h, v;
    };
    for (const Case &c : {Case{721, 487, 8, 5, 5}, Case{1920, 1080, 10, 480, 479}, Case{640, 480, 10, 2, 480},
                          Case{33, 17, 10, 480, 480}}) {
        SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H) + " " + std::to_string(c.h) + "/" +
                     std::to_string(c.v));
        PatternHarness t(c.W, c.H, c.bits);
        t.poison();
        t.render({{"Pattern", "Geometry"}, {"hLines", std::to_string(c.h).c_str()}, {"vLines", std::to_string(c.v).c_str()}});
        TestRaster e(c.W, c.H, c.bits);
        const int W = c.W, H = c.H;
        const uint32_t K = 16u << (c.bits - 8), L = 235u << (c.bits - 8);
        const uint64_t white = e.pack(L, L, L);
        e.fill(e.pack(K, K, K));
        e.drawLine(white, 0, 0, W, H);
        e.drawLine(white, 0, H, W, 0);
        e.drawCircle(white, W / 2, H / 2, H * 850 / 2000);
        const int tt = H * 850 / 5000, r = W * 150 / 2000, u = H * 150 / 2000;
        e.drawCircle(white, tt + r, tt + u, tt);
        e.drawCircle(white, W - r - tt, tt + u, tt);
        e.drawCircle(white, tt + r, H - u - tt, tt);
        e.drawCircle(white, W - r - tt, H - u - tt, tt);
        for (int j = 0; j < c.v; ++j)
            e.drawLine(white, j * W / c.v, 0, j * W / c.v, H);
        for (int j = 0; j < c.h; ++j)
            e.drawLine(white, 0, j * H / c.h, W, j * H / c.h);
        auto box = [&](uint64_t col, int x0, int y0, int x1, int y1) {
            e.drawLine(col, x0, y0, x1, y0);
            e.drawLine(col, x1, y0, x1, y1);
            e.drawLine(col, x1, y1, x0, y1);
            e.drawLine(col, x0, y1, x0, y0);
        };
        box(white, 0, 0, W - 1, H - 1);
        box(e.pack(L, K, K), W * 50 / 2000, H * 50 / 2000, W * 950 / 1000 + W * 50 / 2000, H * 950 / 1000 + H * 50 / 2000);
        box(e.pack(L, L, K), W * 100 / 2000, H * 100 / 2000, W * 900 / 1000 + W * 100 / 2000,
            H * 900 / 1000 + H * 100 / 2000);
        box(e.pack(K, L, K), W * 150 / 2000, H * 150 / 2000, W * 850 / 1000 + W * 150 / 2000,
            H * 850 / 1000 + H * 150 / 2000);
        int differ = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                differ += t.raster.pixel(x, y) != e.pixel(x, y);
        EXPECT_EQ(differ, 0);
    }
}
