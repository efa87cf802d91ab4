// Multiburst stripe widths and the counts it logs, the outline box and its
// caption; the bars and line grids of the grid-line style.
#include "PatternHarness.h"
#include "QiFont.h"
#include "QiLog.h"

#include <mutex>
#include <tuple>
#include <string>

namespace {

class Capture : public QiOutput {
public:
    Capture() : QiOutput(2) {}
    bool write(const char *bytes, size_t length) override
    {
        text.append(bytes, length);
        return true;
    }
    std::string text;
};

} // namespace

TEST(Sharpness, MultiburstStripeWidthsAt1080)
{
    PatternHarness t(1920, 1080, 10);
    auto capture = std::make_unique<Capture>();
    Capture *log = capture.get();
    auto old = swapLogOutput(std::move(capture));
    t.poison();
    t.render({{"Pattern", "Sharpness"}, {"Style", "MultiBurst"}});
    const std::string lines = log->text;
    swapLogOutput(std::move(old));
    for (const char *line : {"mbDivAry[0] => 10\n", "mbDivAry[1] => 20\n", "mbDivAry[2] => 40\n",
                             "mbDivAry[3] => 80\n", "mbDivAry[4] => 160\n", "mbDivAry[5] => 320\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line;

    const Rgb white{940, 940, 940}, black{64, 64, 64}, grey{502, 502, 502};
    // Bursts 320 wide with stripes of 32, 16, 8, 4, 2 and 1 pixels, white first.
    for (int32_t y : {0, 539}) {
        for (int32_t x = 0; x < 1920; ++x) {
            const int32_t b = x / 320, width = 32 >> b;
            ASSERT_EQ(t.at(x, y), ((x - 320 * b) / width) % 2 == 0 ? white : black) << x << "," << y;
        }
    }
    EXPECT_EQ(t.at(5, 540), grey);
    EXPECT_EQ(t.at(1915, 1079), grey);

    // Outline box 480 x 270 from (720, 702) to (1200, 972) with its diagonals.
    EXPECT_EQ(t.at(720, 702), black);
    EXPECT_EQ(t.at(1200, 972), black);
    EXPECT_EQ(t.at(720, 800), black);
    EXPECT_EQ(t.at(1200, 800), black);
    EXPECT_EQ(t.at(1000, 702), black);
    EXPECT_EQ(t.at(1000, 972), black);
    EXPECT_EQ(t.at(719, 800), grey);
    EXPECT_EQ(t.at(1201, 800), grey);
    EXPECT_EQ(t.at(1000, 973), grey);
    int centre = 0;
    for (int32_t y = 836; y <= 838; ++y)
        for (int32_t x = 959; x <= 961; ++x)
            centre += t.at(x, y) == black;
    EXPECT_GE(centre, 2) << "the diagonals cross in the middle";
    EXPECT_EQ(t.at(800, 740), grey);

    // The whole frame against the definition drawn with the plain
    // primitives: bursts as rectangles, the box as lines, the framed caption
    // centred on (960, 615) in the large display font.
    TestRaster expected(1920, 1080, 10);
    const uint64_t g = expected.pack(502, 502, 502), k = expected.pack(64, 64, 64), w = expected.pack(940, 940, 940);
    expected.fill(g);
    const int p[6] = {10, 20, 40, 80, 160, 320};
    for (int b = 0; b < 6; ++b)
        for (int j = 0; j < p[b]; ++j)
            expected.fillRect(j % 2 == 0 ? w : k, 320 * b + j * 320 / p[b], 0,
                              (j + 1) * 320 / p[b] - j * 320 / p[b], 540);
    expected.drawLine(k, 720, 702, 1200, 702);
    expected.drawLine(k, 1200, 702, 1200, 972);
    expected.drawLine(k, 1200, 972, 720, 972);
    expected.drawLine(k, 720, 972, 720, 702);
    expected.drawLine(k, 720, 702, 1200, 972);
    expected.drawLine(k, 720, 972, 1200, 702);
    int32_t tw = 0, th = 0;
    ASSERT_TRUE(t.engine.font(OvCore::kDisplayFont)->ok());
    drawText(expected, *t.engine.font(OvCore::kDisplayFont), "Sharpness", k, 960, 615, tw, th, true, 4);
    EXPECT_GT(tw, 400) << "the caption has a size";
    int differ = 0;
    for (int32_t y = 0; y < 1080; ++y)
        for (int32_t x = 0; x < 1920; ++x)
            differ += t.raster.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differ, 0);
}

TEST(Sharpness, MultiburstOddWidth)
{
    PatternHarness t(721, 487, 8);
    t.render({{"Pattern", "Sharpness"}, {"Style", "multiburst"}});
    const Rgb white{235, 235, 235}, black{16, 16, 16}, grey{125, 125, 125};
    // p = 3, 7, 15, 30, 60, 121 over bursts starting at 0, 120, 240, 360, 480, 600.
    EXPECT_EQ(t.at(39, 0), white);
    EXPECT_EQ(t.at(40, 0), black);
    EXPECT_EQ(t.at(80, 0), white);
    EXPECT_EQ(t.at(119, 242), white);
    EXPECT_EQ(t.at(120, 0), white);
    EXPECT_EQ(t.at(136, 0), white);
    EXPECT_EQ(t.at(137, 0), black) << "7 stripes over 120: the second starts at 120 + 17";
    for (int32_t x = 600; x < 721; ++x)
        ASSERT_EQ(t.at(x, 100), (x - 600) % 2 == 0 ? white : black) << x;
    EXPECT_EQ(t.at(0, 243), grey) << "bursts fill rows 0 .. H/2 - 1";
}

TEST(Sharpness, GridLineBarsAndGrids)
{
    PatternHarness t(1920, 1080, 10);
    t.poison();
    t.render({{"Pattern", "Sharpness"}});
    const Rgb black{64, 64, 64}, grey{502, 502, 502};
    // Vertical bars i = 1..5 at x = 240i + 240, 2i - 1 wide, rows 135 .. 944.
    for (int i = 1; i <= 5; ++i) {
        const int32_t x = 240 * i + 240, w = 2 * i - 1;
        SCOPED_TRACE(i);
        EXPECT_EQ(t.at(x - 1, 200), grey);
        EXPECT_EQ(t.at(x, 200), black);
        EXPECT_EQ(t.at(x + w - 1, 200), black);
        EXPECT_EQ(t.at(x + w, 200), grey);
        EXPECT_EQ(t.at(x, 134), grey);
        EXPECT_EQ(t.at(x, 135), black);
        EXPECT_EQ(t.at(x, 944), black);
        EXPECT_EQ(t.at(x, 945), grey);
        // Horizontal bars at y = 135i + 135, x = 240 .. 1679.
        const int32_t y = 135 * i + 135;
        EXPECT_EQ(t.at(300, y - 1), grey);
        EXPECT_EQ(t.at(300, y), black);
        EXPECT_EQ(t.at(300, y + w - 1), black);
        EXPECT_EQ(t.at(300, y + w), grey);
        EXPECT_EQ(t.at(239, y), grey);
        EXPECT_EQ(t.at(240, y), black);
        EXPECT_EQ(t.at(1679, y), black);
        EXPECT_EQ(t.at(1680, y), grey);
    }
    // First grid: origin (736, 415), 210 x 118, 12 x 6 cells, shifted (9, 10):
    // columns at 745 + 210j/12, rows at 425 + 118k/6.
    for (int32_t x : {745, 762, 780, 797, 815, 832, 850, 867, 885, 902, 920, 937}) {
        EXPECT_EQ(t.at(x, 415), black) << x;
        EXPECT_EQ(t.at(x, 533), black) << x;
        EXPECT_EQ(t.at(x, 534), grey) << x;
    }
    EXPECT_EQ(t.at(761, 450), grey);
    for (int32_t y : {425, 444, 464, 484, 503, 523}) {
        EXPECT_EQ(t.at(736, y), black) << y;
        EXPECT_EQ(t.at(946, y), black) << y;
        EXPECT_EQ(t.at(947, y), grey) << y;
    }
    EXPECT_EQ(t.at(735, 425), grey);
    // Fourth grid: origin (977, 415), 20 x 10 cells shifted (5, 6).
    EXPECT_EQ(t.at(982, 415), black);
    EXPECT_EQ(t.at(981, 416), grey);
    EXPECT_EQ(t.at(977, 421), black);
    EXPECT_EQ(t.at(976, 421), grey);
}

// The grid-line style against its definition drawn with rectangles and
// single lines, at sizes whose divisions do not come out even.
TEST(Sharpness, GridLinesMatchTheDefinition)
{
    for (auto [W, H, bits] : {std::tuple{721, 487, 8}, std::tuple{1280, 720, 10}, std::tuple{37, 23, 10}}) {
        SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
        PatternHarness t(W, H, bits);
        t.poison();
        t.render({{"Pattern", "Sharpness"}, {"Style", "gridlines"}});
        TestRaster e(W, H, bits);
        const uint32_t K = 16u << (bits - 8), Wl = 235u << (bits - 8), g = (K + Wl) >> 1;
        const uint64_t grey = e.pack(g, g, g), black = e.pack(K, K, K);
        e.fill(grey);
        for (int i = 1; i <= 5; ++i)
            for (int n = 1; n <= i; ++n) {
                e.fillRect(black, i * W / 8 + W / 8, H / 8, 2 * n - 1, H * 3 / 4);
                e.fillRect(black, W / 8, i * H / 8 + H / 8, W * 3 / 4, 2 * n - 1);
            }
        const int ew = W * 7 / 64, fh = H * 7 / 64;
        const int grids[4][6] = {
            {W * 49 / 128 + 1, H * 49 / 128 + 2, 12, 6, W * 15 / 3072, H * 15 / 1536},
            {W * 65 / 128 + 1, H * 65 / 128 + 2, 12, 6, W * 15 / 3072, H * 15 / 1536},
            {W * 49 / 128 + 1, H * 65 / 128 + 2, 20, 10, W * 15 / 5120, H * 15 / 2560},
            {W * 65 / 128 + 2, H * 49 / 128 + 2, 20, 10, W * 15 / 5120, H * 15 / 2560},
        };
        for (const auto &gr : grids) {
            const int x0 = gr[0], y0 = gr[1], c = gr[2], r = gr[3], gx = gr[4], gy = gr[5];
            for (int j = 0; j < c; ++j)
                e.drawLine(black, x0 + gx + j * ew / c, y0, x0 + gx + j * ew / c, y0 + fh);
            for (int k = 0; k < r; ++k)
                e.drawLine(black, x0, y0 + k * fh / r + gy, x0 + ew, y0 + k * fh / r + gy);
        }
        int differ = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                differ += t.raster.pixel(x, y) != e.pixel(x, y);
        EXPECT_EQ(differ, 0);
    }
}
