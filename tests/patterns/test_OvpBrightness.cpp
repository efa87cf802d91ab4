#include "BmdRaster.h"
#include "KonaRaster.h"
#include "OvPatternKit.h"
#include "OvpBrightness.h"
#include "PatternHarness.h"
#include "QiLog.h"
#include "SimBoards.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

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

int32_t framePeriodOf(PatternHarness &t) { return t.engine.findRenderer("Brightness")->framePeriod.load(); }

} // namespace

TEST(Brightness, StaticSwatchesAndLabelsAtTenBits)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Brightness"}});
    EXPECT_EQ(framePeriodOf(t), 0);
    // Columns W*(12+4k)/71 .. W*(15+4k)/71; rows 280..519 and 560..799.
    for (int k = 0; k < 12; ++k) {
        const int32_t x0 = 1920 * (12 + 4 * k) / 71, x1 = 1920 * (15 + 4 * k) / 71 - 1;
        EXPECT_EQ(t.at(x0, 280), grey(4 * (k + 1))) << k;
        EXPECT_EQ(t.at(x1, 519), grey(4 * (k + 1))) << k;
        EXPECT_EQ(t.at(x0, 560), grey(4 * (k + 13))) << k;
        EXPECT_EQ(t.at(x1, 799), grey(4 * (k + 13))) << k;
        EXPECT_EQ(t.at(x0 - 1, 300), grey(0)) << k;
        EXPECT_EQ(t.at(x1 + 1, 300), grey(0)) << k;
        EXPECT_EQ(t.at(x0, 279), grey(0)) << k;
        EXPECT_EQ(t.at(x0, 520), grey(0)) << k;
        EXPECT_EQ(t.at(x0, 800), grey(0)) << k;
    }
    EXPECT_EQ(t.at(0, 0), grey(0)) << "bgLevel defaults to code 0, below black";
    EXPECT_EQ(t.at(1919, 1079), grey(0));
    // Labels at x = trunc(W*(B-1.5)/71), y = H*10/27, H*17/27, "0%" at H*19/27.
    EXPECT_TRUE(swatchLabel(t, "4", 256, 4, 365, 400));
    EXPECT_TRUE(swatchLabel(t, "48", 256, 48, 1920 * 57.5 / 71, 400));
    EXPECT_TRUE(swatchLabel(t, "64", 256, 64, 1920 * 25.5 / 71, 680));
    EXPECT_TRUE(swatchLabel(t, "0%", 256, 64, 1920 * 25.5 / 71, 760));
    EXPECT_FALSE(swatchLabel(t, "0%", 256, 60, 1920 * 21.5 / 71, 760)) << "only the black swatch is marked";
    EXPECT_FALSE(swatchLabel(t, "8", 256, 4, 365, 400));

    t.render({{"Pattern", "Brightness"}, {"bgLevel_Red", "64"}, {"bgLevel_Green", "64"}, {"bgLevel_Blue", "64"}});
    EXPECT_EQ(t.at(0, 0), grey(64));
}

TEST(Brightness, StaticAtEightBitsOddSize)
{
    PatternHarness t(721, 487, 8);
    t.render({{"Pattern", "Brightness"}, {"Style", "static"}});
    const int32_t top = 487 * 7 / 27, low = 487 * 14 / 27;
    for (int k = 0; k < 12; ++k) {
        const int32_t x0 = 721 * (12 + 4 * k) / 71, x1 = 721 * (15 + 4 * k) / 71 - 1;
        EXPECT_EQ(t.at(x0, top), grey(k + 1)) << k;
        EXPECT_EQ(t.at(x1, top), grey(k + 1)) << k;
        EXPECT_EQ(t.at(x0, low), grey(k + 13)) << k;
        EXPECT_EQ(t.at(x1 + 1, low), grey(0)) << k;
    }
    EXPECT_TRUE(swatchLabel(t, "16", 64, 16, static_cast<int32_t>(721 * 25.5 / 71), 487 * 17 / 27));
    EXPECT_TRUE(swatchLabel(t, "0%", 64, 16, static_cast<int32_t>(721 * 25.5 / 71), 487 * 19 / 27));
}

TEST(Brightness, BlinkingAndTestingEncodeTwoFramesOfRings)
{
    PatternHarness t(1920, 1080, 10);
    t.raster.keepFrames = true;
    t.render({{"Pattern", "Brightness"}, {"Style", "Blinking"}});
    EXPECT_EQ(framePeriodOf(t), 750);
    ASSERT_EQ(t.raster.frames.size(), 2u);
    EXPECT_EQ(t.raster.frames[0].index, 0);
    EXPECT_EQ(t.raster.frames[1].index, 1);
    EXPECT_EQ(t.raster.frames[0].bufferCount, 2);
    EXPECT_FALSE(t.raster.frames[0].exact);
    auto px = [&](int f, int32_t x, int32_t y) {
        const uint64_t w = t.raster.frames[f].pixels[static_cast<size_t>(y) * 1920 + x];
        return Rgb{t.raster.red(w), t.raster.green(w), t.raster.blue(w)};
    };
    // d = 876 * 16 / 100 = 140: low max(64 - 140, 0) = 0, high 64 + 140.
    struct Probe {
        int32_t x, y;
        bool outer;
    };
    const Probe ring[] = {{96, 54, true},    {1823, 107, true},  {96, 972, true},   {1823, 1025, true},
                          {96, 108, true},   {287, 971, true},   {1632, 108, true}, {1823, 971, true},
                          {480, 162, false}, {1439, 215, false}, {480, 864, false}, {1439, 917, false},
                          {480, 216, false}, {671, 863, false},  {1248, 216, false}, {1439, 863, false}};
    for (const Probe &p : ring) {
        EXPECT_EQ(px(0, p.x, p.y), grey(p.outer ? 0 : 64)) << p.x << "," << p.y;
        EXPECT_EQ(px(1, p.x, p.y), grey(p.outer ? 64 : 204)) << p.x << "," << p.y;
    }
    for (const Probe &p : {Probe{95, 54, true}, Probe{1824, 54, true}, Probe{96, 53, true}, Probe{96, 1026, true},
                           Probe{288, 500, true}, Probe{960, 540, true}, Probe{672, 500, true}, Probe{479, 162, true},
                           Probe{0, 0, true}}) {
        EXPECT_EQ(px(0, p.x, p.y), grey(64)) << p.x << "," << p.y;
        EXPECT_EQ(px(1, p.x, p.y), grey(64)) << p.x << "," << p.y;
    }

    t.raster.frames.clear();
    t.render({{"Pattern", "Brightness"}, {"Style", "Testing"}});
    ASSERT_EQ(t.raster.frames.size(), 2u);
    EXPECT_EQ(px(0, 96, 54), grey(64));
    EXPECT_EQ(px(0, 480, 162), grey(940));
    EXPECT_EQ(px(1, 96, 54), grey(940));
    EXPECT_EQ(px(1, 480, 162), grey(64));
    EXPECT_EQ(px(1, 960, 540), grey(64));

    // A still style stops the flipping.
    t.render({{"Pattern", "Brightness"}});
    EXPECT_EQ(framePeriodOf(t), 0);
    EXPECT_EQ(t.raster.bufferCount(), 1);
}

TEST(Brightness, BracketLevelsStraddleBlack)
{
    {
        PatternHarness t(721, 487, 8);
        t.raster.keepFrames = true;
        // d = 219 * 5 / 100 = 10: 16 - 10 and 16 + 10.
        t.render({{"Pattern", "Brightness"}, {"Style", "blinking"}, {"Bracket", "5"}});
        ASSERT_EQ(t.raster.frames.size(), 2u);
        const int32_t x = 721 / 20, y = 487 / 20;
        auto at = [&](int f, int32_t xx, int32_t yy) {
            return t.raster.blue(t.raster.frames[f].pixels[static_cast<size_t>(yy) * 721 + xx]);
        };
        EXPECT_EQ(at(0, x, y), 6u);
        EXPECT_EQ(at(1, 721 * 5 / 20, 487 * 3 / 20), 26u);
        t.raster.frames.clear();
        // Bracket clamps at 50: d = 109.
        t.render({{"Pattern", "Brightness"}, {"Style", "Blinking"}, {"Bracket", "90"}});
        EXPECT_EQ(at(0, x, y), 0u);
        EXPECT_EQ(at(1, 721 * 5 / 20, 487 * 3 / 20), 125u);
    }
    PatternHarness f(720, 486, 10, 0, 1023);
    f.raster.keepFrames = true;
    // Full range: 0 and d = 1023 * 16 / 100 = 163.
    f.render({{"Pattern", "Brightness"}, {"Style", "Blinking"}});
    ASSERT_EQ(f.raster.frames.size(), 2u);
    EXPECT_EQ(f.raster.blue(f.raster.frames[0].pixels[static_cast<size_t>(486 / 20) * 720 + 36]), 0u);
    EXPECT_EQ(f.raster.blue(f.raster.frames[1].pixels[static_cast<size_t>(486 * 3 / 20) * 720 + 180]), 163u);
}

namespace {

class BlinkingOnBoards : public ::testing::Test {
protected:
    struct Silent : QiOutput {
        Silent() : QiOutput(-1) {}
        bool write(const char *, size_t) override { return true; }
    };
    void SetUp() override { old = swapLogOutput(std::make_unique<Silent>()); }
    void TearDown() override
    {
        SimBoards::selectNone();
        swapLogOutput(std::move(old));
    }
    std::unique_ptr<QiOutput> old;
};

uint64_t hashOf(const std::vector<uint8_t> &bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

// Posts blinking brightness on a started engine and watches the board:
// two different frames alternating about every 750 ms, and no flip once
// another pattern is shown.
void blinkOnBoard(QiRaster &raster)
{
    using Clock = std::chrono::steady_clock;
    OvCore core;
    core.start(&raster, nullptr, ovBuiltinRenderers());
    QiParams p;
    p.set("Pattern", "Brightness");
    p.set("Style", "Blinking");
    bool result;
    core.waitTransaction(core.post(p), result);

    struct Flip {
        Clock::time_point at;
        uint64_t sequence, hash;
    };
    std::vector<Flip> flips;
    SimFrame frame;
    uint64_t last = 0;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(3300);
    while (Clock::now() < end) {
        if (SimBoards::outputFrame(frame) && frame.sequence != last) {
            last = frame.sequence;
            flips.push_back({Clock::now(), frame.sequence, hashOf(frame.bytes)});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(flips.size(), 4u) << "the board output should change about every 750 ms";
    EXPECT_NE(flips[0].hash, flips[1].hash) << "two different frames";
    for (size_t i = 2; i < flips.size(); ++i)
        EXPECT_EQ(flips[i].hash, flips[i - 2].hash) << "frames alternate, flip " << i;
    // Intervals from the second observed flip on (the first is the render's
    // own present); generous for a loaded machine, tight enough to tell
    // 750 ms from a frame period of 0 or twice 750.
    double sum = 0;
    for (size_t i = 2; i < flips.size(); ++i) {
        const double ms = std::chrono::duration<double, std::milli>(flips[i].at - flips[i - 1].at).count();
        EXPECT_GT(ms, 350) << i;
        EXPECT_LT(ms, 1300) << i;
        sum += ms;
    }
    const double mean = sum / static_cast<double>(flips.size() - 2);
    EXPECT_GT(mean, 600);
    EXPECT_LT(mean, 950);

    core.waitTransaction(core.postPattern("Colorbars"), result);
    ASSERT_TRUE(SimBoards::outputFrame(frame));
    const uint64_t shown = frame.sequence;
    const uint64_t bars = hashOf(frame.bytes);
    EXPECT_NE(bars, flips[0].hash);
    EXPECT_NE(bars, flips[1].hash);
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    ASSERT_TRUE(SimBoards::outputFrame(frame));
    EXPECT_EQ(frame.sequence, shown) << "flipping stops once another pattern is shown";
    core.shutdown();
}

} // namespace

TEST_F(BlinkingOnBoards, AlternatesOnTheKonaBoardUntilAnotherPattern)
{
    SimBoards::selectKona();
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    blinkOnBoard(raster);
}

TEST_F(BlinkingOnBoards, AlternatesOnTheDeckLinkBoardUntilAnotherPattern)
{
    SimBoards::selectDeckLink();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    blinkOnBoard(raster);
}

TEST(Brightness, OptionsAsPublished)
{
    PatternHarness t(64, 64, 10);
    const std::vector<std::string> want = {
        "bgLevel|RGB|The color/level of the patch behind the swatches in the static style|DefaultIsRGB=false|"
        "DefaultValueB=0|DefaultValueG=0|DefaultValueR=0",
        "Style|Enumeration|The Pattern style|DefaultValue=Static|Style0=Blinking|Style1=Static|Style2=Testing|nVal=3",
        "Bracket|Integer|The amount above and below the black level to display|DefaultValue=16|MaxValue=50|MinValue=0",
    };
    EXPECT_EQ(publishedOptions(t.engine, "Brightness"), want);
    EXPECT_STREQ(t.engine.findRenderer("Brightness")->revision, "$Revision: 1.14 $");
}
