// Patch edges at i*W/h, clamped patch counts that follow the frame, the
// inverted start.
#include "PatternHarness.h"

namespace {

std::string described(OvCore &engine, const char *option, const char *key)
{
    std::vector<QiParams> opts;
    engine.getPatternOpts("Checkerboard", opts);
    for (const QiParams &p : opts) {
        const char *name, *value;
        if (p.get("Name", name) && std::string(name) == option && p.get(key, value))
            return value;
    }
    return "-";
}

} // namespace

TEST(Checkerboard, PatchEdgesAndClampedCountsAt1080)
{
    PatternHarness t(1920, 1080, 10);
    const Rgb hi{940, 940, 940}, lo{64, 64, 64};
    t.poison();
    t.render({{"Pattern", "Checkerboard"}, {"hPatch", "3"}});
    // Columns split at 640 and 1280; five patch rows split at 216, 432, ...
    EXPECT_EQ(t.at(0, 0), hi);
    EXPECT_EQ(t.at(639, 0), hi);
    EXPECT_EQ(t.at(640, 0), lo);
    EXPECT_EQ(t.at(1279, 215), lo);
    EXPECT_EQ(t.at(1280, 215), hi);
    EXPECT_EQ(t.at(1919, 215), hi);
    EXPECT_EQ(t.at(0, 216), lo);
    EXPECT_EQ(t.at(640, 216), hi);
    EXPECT_EQ(t.at(640, 431), hi);
    EXPECT_EQ(t.at(640, 432), lo);
    EXPECT_EQ(t.at(1919, 1079), hi) << "patch (4, 2) is even";
    EXPECT_EQ(described(t.engine, "hPatch", "MaxValue"), "1920");
    EXPECT_EQ(described(t.engine, "vPatch", "MaxValue"), "1080");
    EXPECT_EQ(described(t.engine, "hPatch", "MinValue"), "2");
    EXPECT_EQ(described(t.engine, "vPatch", "DefaultValue"), "5");

    // 5000 across is clamped to 1920: one-pixel patches.
    t.render({{"Pattern", "Checkerboard"}, {"hPatch", "5000"}, {"vPatch", "5000"}});
    for (int32_t y : {0, 1, 1078, 1079})
        for (int32_t x = 0; x < 1920; ++x)
            ASSERT_EQ(t.at(x, y), (x + y) % 2 == 0 ? hi : lo) << x << "," << y;

    // Fewer than two is clamped to two; invert starts low.
    t.render({{"Pattern", "Checkerboard"}, {"hPatch", "1"}, {"vPatch", "-4"}, {"invert", "true"}});
    EXPECT_EQ(t.at(0, 0), lo);
    EXPECT_EQ(t.at(959, 539), lo);
    EXPECT_EQ(t.at(960, 539), hi);
    EXPECT_EQ(t.at(959, 540), hi);
    EXPECT_EQ(t.at(1919, 1079), lo);
}

TEST(Checkerboard, OddSizeEveryPixelAndColours)
{
    PatternHarness t(721, 487, 8);
    const Rgb hi{200, 10, 30}, lo{16, 16, 16};
    t.poison();
    t.render({{"Pattern", "Checkerboard"},
              {"hiColor_Red", "200"},
              {"hiColor_Green", "10"},
              {"hiColor_Blue", "30"},
              {"vPatch", "7"}});
    // Five columns: 721*f/5 = 0, 144, 288, 432, 576; seven rows: 487*i/7 =
    // 0, 69, 139, 208, 278, 347, 417.
    const int32_t cols[] = {0, 144, 288, 432, 576, 721};
    const int32_t rows[] = {0, 69, 139, 208, 278, 347, 417, 487};
    for (int i = 0; i < 7; ++i)
        for (int f = 0; f < 5; ++f)
            for (int32_t y = rows[i]; y < rows[i + 1]; ++y)
                for (int32_t x = cols[f]; x < cols[f + 1]; ++x)
                    ASSERT_EQ(t.at(x, y), (i + f) % 2 == 0 ? hi : lo) << x << "," << y;
    EXPECT_EQ(described(t.engine, "hPatch", "MaxValue"), "721");
    EXPECT_EQ(described(t.engine, "vPatch", "MaxValue"), "487");

    t.render({{"Pattern", "Checkerboard"}, {"hPatch", "2"}, {"vPatch", "2"}});
    EXPECT_EQ(t.at(359, 242), (Rgb{235, 235, 235}));
    EXPECT_EQ(t.at(360, 242), lo);
    EXPECT_EQ(t.at(359, 243), lo);
    EXPECT_EQ(t.at(360, 243), (Rgb{235, 235, 235}));
}
