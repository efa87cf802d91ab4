// The nested rectangles against the obvious definition (32 rectangle fills,
// outlines as lines), and the innermost rectangle's place and level.
#include "PatternHarness.h"

#include <cmath>
#include <cstring>

namespace {

const uint32_t kLevels[32] = {235, 227, 220, 214, 207, 199, 192, 185, 178, 171, 164, 157, 150, 143, 135, 129,
                              122, 115, 107, 100, 93,  86,  80,  72,  65,  58,  51,  43,  37,  30,  23,  16};

void reference(QiImage &img)
{
    const int W = img.width(), H = img.height(), s = img.bits() - 8;
    const int t = static_cast<int>(std::sqrt(static_cast<double>(W * W * 4 / 100)));
    const int a = static_cast<int>(std::sqrt(static_cast<double>(H * H * 4 / 100)));
    const int sx = ((W - t) / 32) / 2, sy = ((H - a) / 32) / 2;
    for (int k = 0; k < 32; ++k) {
        const uint32_t v = kLevels[k] << s;
        for (int y = k * sy; y < k * sy + (H - 2 * k * sy); ++y)
            for (int x = k * sx; x < k * sx + (W - 2 * k * sx); ++x)
                img.setPixelRgb(x, y, v, v, v);
    }
    auto outline = [&](uint64_t c, int x0, int y0, int x1, int y1) {
        img.drawLine(c, x0, y0, x1, y0);
        img.drawLine(c, x1, y0, x1, y1);
        img.drawLine(c, x1, y1, x0, y1);
        img.drawLine(c, x0, y1, x0, y0);
    };
    const int E = W / 2 - t / 2, F = H / 2 - a / 2, U = E + t, V = F + a;
    outline(img.pack(16u << s, 16u << s, 235u << s), E, F, U, V);
    const uint64_t black = img.pack(16u << s, 16u << s, 16u << s);
    outline(black, E + 5, F, U - 5, V);
    outline(black, E, F + 5, U, V - 5);
}

} // namespace

TEST(IDMS, MatchesTheRectangleDefinitionAtSeveralSizes)
{
    struct Size {
        int w, h, bits;
    };
    for (Size s : {Size{1920, 1080, 10}, Size{721, 487, 8}, Size{64, 40, 10}, Size{9, 7, 8}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        PatternHarness t(s.w, s.h, s.bits);
        t.poison();
        t.render({{"Pattern", "IDMS"}});
        QiImage expected(s.w, s.h, s.bits);
        expected.fill(PatternHarness::kPoison);
        reference(expected);
        int differ = 0;
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x)
                differ += t.raster.pixel(x, y) != expected.pixel(x, y);
        EXPECT_EQ(differ, 0);
    }
}

TEST(IDMS, InnermostRectangleAndWindowOutlineAt1080)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "IDMS"}});
    // t = 384, a = 216, steps 24 and 13: rectangle 31 is 432 x 274 at (744, 403).
    const Rgb inner{64, 64, 64}, next{92, 92, 92};
    EXPECT_EQ(t.at(744, 403), inner);
    EXPECT_EQ(t.at(1175, 676), inner);
    EXPECT_EQ(t.at(800, 500), inner);
    EXPECT_EQ(t.at(743, 403), next);
    EXPECT_EQ(t.at(744, 402), next);
    EXPECT_EQ(t.at(1176, 676), next);
    EXPECT_EQ(t.at(1175, 677), next);
    EXPECT_EQ(t.at(0, 0), (Rgb{940, 940, 940}));
    EXPECT_EQ(t.at(23, 13), (Rgb{940, 940, 940}));
    EXPECT_EQ(t.at(24, 13), (Rgb{908, 908, 908}));
    EXPECT_EQ(t.at(1919, 1079), (Rgb{940, 940, 940}));
    // Window (768, 432)-(1152, 648): blue outline, black inner outlines 5 in.
    const Rgb blue{64, 64, 940};
    EXPECT_EQ(t.at(768, 432), blue);
    EXPECT_EQ(t.at(772, 432), blue);
    EXPECT_EQ(t.at(773, 432), inner);
    EXPECT_EQ(t.at(768, 436), blue);
    EXPECT_EQ(t.at(768, 437), inner);
    EXPECT_EQ(t.at(1152, 648), blue);
    EXPECT_EQ(t.at(1147, 600), inner);
    EXPECT_EQ(t.at(1148, 648), blue);
}
