// Square places at 1920x1080 and an odd size, the references by white
// level, and the caption drawn as the title's extra line.
#include "PatternHarness.h"

#include <cstring>

namespace {

struct Square {
    int x, y;
    Rgb c;
};

void expectSquares(PatternHarness &t, int side, std::initializer_list<Square> squares, Rgb grey)
{
    for (const Square &s : squares) {
        SCOPED_TRACE(std::to_string(s.x) + "," + std::to_string(s.y));
        EXPECT_EQ(t.at(s.x, s.y), s.c);
        EXPECT_EQ(t.at(s.x + side - 1, s.y + side - 1), s.c);
        EXPECT_EQ(t.at(s.x - 1, s.y), grey);
        EXPECT_EQ(t.at(s.x, s.y - 1), grey);
        EXPECT_EQ(t.at(s.x + side, s.y + side - 1), grey);
        EXPECT_EQ(t.at(s.x + side - 1, s.y + side), grey);
    }
}

} // namespace

TEST(BT815, SquaresAt1080)
{
    PatternHarness t(1920, 1080, 10);
    t.poison();
    t.render({{"Pattern", "BT.815"}});
    const Rgb grey{504, 504, 504}, black{64, 64, 64}, white{940, 940, 940};
    expectSquares(t, 143,
                  {{889, 469, white}, {528, 469, black}, {1248, 469, black}, {889, 108, black}, {889, 830, black}},
                  grey);
    EXPECT_EQ(t.at(0, 0), grey);
    EXPECT_EQ(t.at(1919, 1079), grey);

    // A full-range 10-bit raster keeps the 10-bit video references.
    t.raster.setLevels(0, 1023);
    t.render({{"Pattern", "BT.815"}});
    EXPECT_EQ(t.at(0, 0), grey);
    EXPECT_EQ(t.at(889, 469), white);
}

TEST(BT815, OddSizeAndEightBitReferences)
{
    PatternHarness t(721, 487, 8);
    t.poison();
    t.render({{"Pattern", "BT.815"}});
    // s = 53, centre (334, 217), left x 198, right x 468, top y 81, bottom y 353.
    const Rgb grey{126, 126, 126}, black{16, 16, 16}, white{235, 235, 235};
    expectSquares(t, 53,
                  {{334, 217, white}, {198, 217, black}, {468, 217, black}, {334, 81, black}, {334, 353, black}},
                  grey);
}

TEST(BT815, CaptionIsTheTitlesExtraLine)
{
    for (int bits : {10, 8}) {
        SCOPED_TRACE(bits);
        PatternHarness t(1920, 1080, bits);
        t.render({{"Pattern", "BT.815"}});
        std::vector<uint64_t> plain(t.raster.data(), t.raster.data() + 1920 * 1080);

        t.setGen({{"OutputTitling", "true"}});
        t.render({{"Pattern", "BT.815"}});
        std::vector<uint64_t> titled(t.raster.data(), t.raster.data() + 1920 * 1080);
        EXPECT_NE(plain, titled);

        // The untitled frame with the title drawn over it, caption given.
        std::memcpy(t.raster.data(), plain.data(), plain.size() * 8);
        t.engine.drawTitle("BT.815",
                           bits == 10 ? "Gray: 504, Black: 64, White: 940" : "Gray: 126, Black: 16, White: 235",
                           &t.raster);
        EXPECT_EQ(std::memcmp(t.raster.data(), titled.data(), titled.size() * 8), 0);
        std::memcpy(t.raster.data(), plain.data(), plain.size() * 8);
        t.engine.drawTitle("BT.815", "Gray: 504, Black: 64, White: 941", &t.raster);
        EXPECT_NE(std::memcmp(t.raster.data(), titled.data(), titled.size() * 8), 0) << "the comparison sees text";
    }
}
