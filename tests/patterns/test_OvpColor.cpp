#include "PatternHarness.h"

namespace {

Rgb grey(uint32_t v) { return {v, v, v}; }

} // namespace

TEST(Color, CellsRotateDownTheColumns)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Tint"}});
    const uint32_t K = 64, L = 721;
    const Rgb blue{K, K, L}, greyL{L, L, L}, cyan{K, L, L}, magenta{L, K, L};
    const Rgb col0[4] = {magenta, cyan, blue, greyL}, col1[4] = {blue, magenta, greyL, cyan};
    const int32_t rows[4][2] = {{280, 399}, {400, 519}, {560, 679}, {680, 799}};
    for (int k = 0; k < 12; ++k) {
        const int32_t x0 = 1920 * (12 + 4 * k) / 71, x1 = 1920 * (15 + 4 * k) / 71 - 1;
        for (int c = 0; c < 4; ++c) {
            Rgb want;
            switch (k % 4) {
            case 0: want = col0[c]; break;
            case 1: want = col1[c]; break;
            default: {
                // Column k reads c[(m+1)%4], c[m%4], c[(m+2)%4], c[(m+3)%4], m = 2 + k.
                const Rgb table[4] = {blue, greyL, cyan, magenta};
                const int m = 2 + k, order[4] = {(m + 1) % 4, m % 4, (m + 2) % 4, (m + 3) % 4};
                want = table[order[c]];
            }
            }
            EXPECT_EQ(t.at(x0, rows[c][0]), want) << k << "/" << c;
            EXPECT_EQ(t.at(x1, rows[c][1]), want) << k << "/" << c;
        }
        EXPECT_EQ(t.at(x0, 279), grey(K));
        EXPECT_EQ(t.at(x0, 520), grey(K));
        EXPECT_EQ(t.at(x0, 559), grey(K));
        EXPECT_EQ(t.at(x0, 800), grey(K));
        EXPECT_EQ(t.at(x1 + 1, 300), grey(K));
    }
    // Brightness 0: every cell black; out of range clamps to 100.
    t.render({{"Pattern", "Color"}, {"Brightness", "0"}});
    for (int32_t y = 0; y < 1080; y += 3)
        for (int32_t x = 0; x < 1920; x += 5)
            ASSERT_EQ(t.at(x, y), grey(K)) << x << "," << y;
    t.render({{"Pattern", "Color"}, {"Brightness", "150"}, {"Style", "rotating"}});
    EXPECT_EQ(t.at(1920 * 12 / 71, 280), (Rgb{940, 64, 940}));

    PatternHarness o(721, 487, 8);
    o.render({{"Pattern", "Color"}});
    const uint32_t l8 = 16 + 219 * 75 / 100;
    EXPECT_EQ(o.at(721 * 16 / 71, 487 * 7 / 27), (Rgb{16, 16, l8})) << "column 1 starts blue";
    EXPECT_EQ(o.at(721 * 16 / 71 - 1, 487 * 7 / 27), grey(16));
    EXPECT_EQ(o.at(721 * 15 / 71 - 1, 487 * 20 / 27 - 1), grey(l8)) << "column 0 ends grey";
}

TEST(Color, OptionsAsPublished)
{
    PatternHarness t(64, 64, 10);
    const std::vector<std::string> want = {
        "Brightness|Integer|The brightness level of the color/tint pattern|DefaultValue=75|MaxValue=100|MinValue=0",
        "Style|Enumeration|The style pattern to use|DefaultValue=Static|Style0=Static|nVal=1",
    };
    EXPECT_EQ(publishedOptions(t.engine, "Color"), want);
    EXPECT_STREQ(t.engine.findRenderer("Color")->revision, "$Revision: 1.8 $");
    QiParams p;
    EXPECT_EQ(t.engine.resolvePattern("Tint", p), t.engine.findRenderer("Color"));
    EXPECT_EQ(p.size(), 1u) << "Tint stores only the pattern";
}
