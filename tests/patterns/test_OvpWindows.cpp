#include "OvpWindows.h"
#include "PatternHarness.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

Rgb grey(uint32_t v) { return {v, v, v}; }

QiParams request(Request r)
{
    QiParams p;
    for (const auto &kv : r)
        p.set(kv.first, kv.second);
    return p;
}

// The caption a render drew, checked against the text: the titled frame
// must equal the untitled frame with the title overlay given that text.
::testing::AssertionResult captionIs(PatternHarness &t, const QiParams &req, const std::string &caption)
{
    const size_t n = static_cast<size_t>(t.raster.width()) * t.raster.height();
    t.setGen({{"OutputTitling", "false"}});
    t.render(req);
    std::vector<uint64_t> plain(t.raster.data(), t.raster.data() + n);
    t.setGen({{"OutputTitling", "true"}});
    t.render(req);
    std::vector<uint64_t> titled(t.raster.data(), t.raster.data() + n);
    std::memcpy(t.raster.data(), plain.data(), n * sizeof(uint64_t));
    t.engine.drawTitle("Window", caption.c_str(), &t.raster);
    t.setGen({{"OutputTitling", "false"}});
    if (plain == titled)
        return ::testing::AssertionFailure() << "no title drawn";
    if (std::memcmp(t.raster.data(), titled.data(), n * sizeof(uint64_t)) != 0)
        return ::testing::AssertionFailure() << "caption is not \"" << caption << "\"";
    return ::testing::AssertionSuccess();
}

size_t count(const PatternHarness &t, Rgb c)
{
    size_t n = 0;
    for (int32_t y = 0; y < t.raster.height(); ++y)
        for (int32_t x = 0; x < t.raster.width(); ++x)
            n += t.at(x, y) == c;
    return n;
}

OvpWindows *windows(PatternHarness &t) { return dynamic_cast<OvpWindows *>(t.engine.findRenderer("Window")); }

} // namespace

TEST(Window, DefaultsAtTenBitsAreFullFieldMidGreyEncodedExactlyWithTheirCaption)
{
    PatternHarness t(1920, 1080, 10);
    t.raster.setTextBlendMode(1);
    t.render({{"Pattern", "Window"}});
    EXPECT_EQ(count(t, grey(502)), size_t{1920} * 1080);
    EXPECT_TRUE(t.raster.lastExact) << "the window is encoded with flag 1";
    EXPECT_EQ(t.raster.lastIndex, 0);
    EXPECT_EQ(t.raster.bufferCount(), 1);
    EXPECT_EQ(t.raster.textBlendMode(), 1) << "the text-blend mode is left as it was";
    EXPECT_EQ(windows(t)->framePeriod.load(), 0);
    t.raster.setTextBlendMode(0);

    const QiParams plain = request({{"Pattern", "Window"}});
    EXPECT_TRUE(captionIs(t, plain, "RGB: 502, TV: 50% [PQ: 92 nit], PC: 49% [APL 49]"));
    EXPECT_FALSE(captionIs(t, plain, "RGB: 502, TV: 50% [PQ: 92 nit], PC: 49% [APL 50]"));
    // White at Size 100 reports 99: the denominator is the range plus one.
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window"}, {"Color_Red", "940"}, {"Color_Green", "940"},
                                      {"Color_Blue", "940"}}),
                          "RGB: 940, TV: 100% [PQ: 10000 nit], PC: 92% [APL 99]"));
    // Below video black: negative TV and PQ, two decimals.
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window"}, {"Color_Red", "32"}, {"Color_Green", "32"},
                                      {"Color_Blue", "32"}}),
                          "RGB: 32, TV: -4% [PQ: -0.03 nit], PC: 3% [APL -3]"));
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window16.30"}}), "RGB: 326, TV: 30% [PQ: 9.9 nit], PC: 32% [APL 4]"));
    // Unequal components: the short form.
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window"}, {"Color_Red", "940"}, {"Color_Green", "64"},
                                      {"Color_Blue", "64"}, {"Size", "50"}}),
                          "R: 940, G: 64, B: 64 [APL 10]"));
}

TEST(Window, EightBitCaptionUsesEightBitReferences)
{
    PatternHarness t(721, 487, 8);
    t.render({{"Pattern", "Window"}});
    EXPECT_EQ(t.at(0, 0), grey(125));
    EXPECT_EQ(t.at(720, 486), grey(125));
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window"}}), "RGB: 125, TV: 50% [PQ: 90 nit], PC: 49% [APL 49]"));
    EXPECT_TRUE(captionIs(t, request({{"Pattern", "Window"}, {"Color_Red", "0"}, {"Color_Green", "0"},
                                      {"Color_Blue", "0"}}),
                          "RGB: 0, TV: -7% [PQ: -0.15 nit], PC: 0% [APL -7]"));
}

TEST(Window, SizeAndPositionByIntegerSquareRoots)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Window16.30"}});
    const Rgb win = grey(326), bg = grey(64);
    EXPECT_EQ(t.at(576, 324), win);
    EXPECT_EQ(t.at(1343, 755), win);
    EXPECT_EQ(t.at(575, 324), bg);
    EXPECT_EQ(t.at(576, 323), bg);
    EXPECT_EQ(t.at(1344, 755), bg);
    EXPECT_EQ(t.at(1343, 756), bg);
    EXPECT_EQ(count(t, win), size_t{768} * 432);
    t.render({{"Pattern", "Window16.80"}});
    EXPECT_EQ(t.at(960, 540), grey(764));
    EXPECT_EQ(t.at(575, 540), bg);

    // Odd size: w = trunc(sqrt(721*721*16/100)) = 288, h = 194, at (216, 146).
    PatternHarness o(721, 487, 8);
    o.render({{"Pattern", "Window"}, {"Size", "16"}, {"Color_Red", "200"}, {"Color_Green", "100"},
              {"Color_Blue", "50"}, {"BgColor_Red", "1"}, {"BgColor_Green", "2"}, {"BgColor_Blue", "3"}});
    EXPECT_EQ(o.at(216, 146), (Rgb{200, 100, 50}));
    EXPECT_EQ(o.at(503, 339), (Rgb{200, 100, 50}));
    EXPECT_EQ(o.at(215, 146), (Rgb{1, 2, 3}));
    EXPECT_EQ(o.at(504, 339), (Rgb{1, 2, 3}));
    EXPECT_EQ(o.at(216, 340), (Rgb{1, 2, 3}));
    EXPECT_EQ(count(o, Rgb{200, 100, 50}), size_t{288} * 194);

    // Size 0: nothing of the window.
    o.render({{"Pattern", "Window"}, {"Size", "0"}});
    EXPECT_EQ(count(o, grey(16)), size_t{721} * 487);
}

TEST(Window, RectanglesPastTheEdgeAreCut)
{
    PatternHarness t(721, 487, 10);
    const Rgb win = grey(502), bg = grey(64);
    // Centre at (0, 487): w = trunc(sqrt(721*721*50/100)) = 509, h = 344.
    t.poison();
    t.render({{"Pattern", "Window"}, {"Size", "50"}, {"xOffset", "0"}, {"yOffset", "100"}});
    EXPECT_EQ(t.at(0, 486), win);
    EXPECT_EQ(t.at(509 - 509 / 2 - 1, 487 - 344 / 2), win);
    EXPECT_EQ(t.at(509 - 509 / 2, 486), bg);
    EXPECT_EQ(t.at(0, 487 - 344 / 2 - 1), bg);
    EXPECT_EQ(count(t, win), size_t(509 - 509 / 2) * (344 / 2));
    EXPECT_EQ(count(t, win) + count(t, bg), size_t{721} * 487);
    // Centre at (721, 0), pluges and the grid as well.
    t.render({{"Pattern", "Window"}, {"Size", "100"}, {"xOffset", "100"}, {"yOffset", "0"}, {"loPluge", "1"},
              {"hiPluge", "1"}});
    EXPECT_EQ(t.at(720, 0), win);
    EXPECT_EQ(t.at(721 - 721 / 2 - 1, 0), bg);
    EXPECT_EQ(t.at(721 - 721 / 2, 243 - 1 - 24 * 5 / 2), win);
}

TEST(Window, PlugesAndGridLines)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Window"}, {"Size", "16"}, {"loPluge", "true"}, {"hiPluge", "yes"}});
    // pw 230, ph 54; low patches from x 269, high from 1421; rows 405 + 54 o.
    const uint32_t low[5] = {0, 32, 64, 96, 128}, high[5] = {860, 900, 940, 980, 1020};
    for (int o = 0; o < 5; ++o) {
        const int32_t top = 405 + 54 * o, bottom = top + 53;
        EXPECT_EQ(t.at(269, top), grey(low[o])) << o;
        EXPECT_EQ(t.at(498, bottom), grey(low[o])) << o;
        EXPECT_EQ(t.at(1421, top), grey(high[o])) << o;
        EXPECT_EQ(t.at(1650, bottom), grey(high[o])) << o;
        EXPECT_EQ(t.at(268, top), grey(64)) << o;
        EXPECT_EQ(t.at(1651, top), grey(64)) << o;
    }
    EXPECT_EQ(t.at(300, 404), grey(64));
    EXPECT_EQ(t.at(300, 675), grey(64));

    t.render({{"Pattern", "Window"}, {"gridLines", "true"}});
    const Rgb line{512, 940, 940};
    for (int32_t x : {0, 384, 768, 1152, 1536})
        for (int32_t y : {1, 500, 1079})
            EXPECT_EQ(t.at(x, y), line) << x << "," << y;
    for (int32_t y : {0, 216, 432, 648, 864})
        for (int32_t x : {1, 1000, 1919})
            EXPECT_EQ(t.at(x, y), line) << x << "," << y;
    EXPECT_EQ(t.at(1919, 500), grey(502)) << "no line on the right edge";
    EXPECT_EQ(t.at(500, 1079), grey(502)) << "no line on the bottom edge";
    EXPECT_EQ(t.at(383, 1), grey(502));
    EXPECT_EQ(t.at(385, 1), grey(502));
    EXPECT_EQ(count(t, line), size_t{5} * 1080 + size_t{5} * 1920 - 25);
    // Divisions clamp to 2 .. 480.
    t.render({{"Pattern", "Window"}, {"gridLines", "true"}, {"vDiv", "1"}, {"hDiv", "100000"}});
    EXPECT_EQ(t.at(960, 1), line);
    EXPECT_EQ(t.at(961, 1), grey(502));
    EXPECT_EQ(count(t, line), size_t{2} * 1080 + size_t{480} * 1920 - 2 * 480);
}

TEST(Window, ConstantAplForcesSizeFiveAndABlackRing)
{
    PatternHarness t(1920, 1080, 10);
    t.render({{"Pattern", "Window"}, {"Style", "Constant APL"}, {"Color_Red", "940"}, {"Color_Green", "940"},
              {"Color_Blue", "940"}, {"Size", "80"}, {"loPluge", "true"}, {"hiPluge", "true"}});
    // Window 429 x 241 at (746, 420); ring 607 x 341 at (657, 370).
    const Rgb white = grey(940), ring = grey(64), bg = grey(161); // trunc(877 * (15 - 5 * 876 / 877) / 90 + 64)
    EXPECT_EQ(t.at(746, 420), white);
    EXPECT_EQ(t.at(1174, 660), white);
    EXPECT_EQ(t.at(745, 420), ring);
    EXPECT_EQ(t.at(657, 370), ring);
    EXPECT_EQ(t.at(1263, 710), ring);
    EXPECT_EQ(t.at(656, 370), bg);
    EXPECT_EQ(t.at(1264, 710), bg);
    EXPECT_EQ(t.at(657, 711), bg);
    EXPECT_EQ(count(t, white), size_t{429} * 241);
    EXPECT_EQ(count(t, ring), size_t{607} * 341 - size_t{429} * 241) << "no pluges in Constant APL";
    EXPECT_EQ(t.at(300, 500), bg);
    QiParams p = request({{"Pattern", "Window"}, {"Style", "constant apl"}, {"Color_Red", "940"},
                          {"Color_Green", "940"}, {"Color_Blue", "940"}});
    EXPECT_TRUE(captionIs(t, p, "RGB: 940, TV: 100% [PQ: 10000 nit], PC: 92% [APL 15]"));
}

TEST(Window, ConstantAplOutOfReachKeepsTheBackgroundInRange)
{
    PatternHarness t(1920, 1080, 10);
    // A white window alone gives about 5%: APL 1 leaves the background at
    // black (not below it), and the caption reports what is drawn.
    QiParams low = request({{"Pattern", "Window"}, {"Style", "Constant APL"}, {"APL", "1"}, {"Color_Red", "940"},
                            {"Color_Green", "940"}, {"Color_Blue", "940"}});
    t.render(low);
    EXPECT_EQ(t.at(0, 0), grey(64));
    EXPECT_TRUE(captionIs(t, low, "RGB: 940, TV: 100% [PQ: 10000 nit], PC: 92% [APL 4]"));
    // A black window at APL 99 asks for more than the highest code.
    QiParams high = request({{"Pattern", "Window"}, {"Style", "Constant APL"}, {"APL", "99"}, {"Color_Red", "64"},
                             {"Color_Green", "64"}, {"Color_Blue", "64"}});
    t.render(high);
    EXPECT_EQ(t.at(0, 0), grey(1023));
    EXPECT_TRUE(captionIs(t, high, "RGB: 64, TV: 0% [PQ: 0.00 nit], PC: 6% [APL 103]"));
    // Full range: trunc(D * F + K) just below 0 truncates to 0 and stays.
    PatternHarness f(1920, 1080, 8, 0, 255);
    f.render({{"Pattern", "Window"}, {"Style", "Constant APL"}, {"APL", "4"}, {"Color_Red", "255"},
              {"Color_Green", "255"}, {"Color_Blue", "255"}});
    EXPECT_EQ(f.at(0, 0), grey(0));
    f.render({{"Pattern", "Window"}, {"Style", "Constant APL"}, {"APL", "99"}, {"Color_Red", "0"},
              {"Color_Green", "0"}, {"Color_Blue", "0"}});
    EXPECT_EQ(f.at(0, 0), grey(255));
}

TEST(Window, PqNitsAndBoundedNitsText)
{
    PatternHarness t(64, 64, 10);
    OvpWindows *w = windows(t);
    ASSERT_NE(w, nullptr);
    EXPECT_DOUBLE_EQ(w->pqNits(0), 0);
    EXPECT_DOUBLE_EQ(w->pqNits(1), 10000);
    EXPECT_NEAR(w->pqNits(0.5), 92.2457, 1e-4);
    EXPECT_DOUBLE_EQ(w->pqNits(-0.5), -w->pqNits(0.5));

    struct {
        double value;
        const char *text;
    } cases[] = {{92.2457, "92"},        {10, "10"},          {9.94, "9.9"},       {1, "1.0"},
                 {0.999, "1.00"},        {0.5, "0.50"},       {-0.0312, "-0.03"},  {-25.5, "-25.50"},
                 {999999999, "999999999"}, {-10000, "-10000.00"}, {1e20, "1.00e+20"}, {-12345678.9, "-1.23e+07"}};
    for (const auto &c : cases) {
        char buf[10 + 4];
        std::memset(buf, '#', sizeof buf);
        EXPECT_STREQ(w->formatNits(buf, 10, c.value), c.text) << c.value;
        for (size_t i = 10; i < sizeof buf; ++i)
            EXPECT_EQ(buf[i], '#') << "written past the buffer for " << c.value;
    }
    char nan[10];
    EXPECT_NE(std::string(w->formatNits(nan, sizeof nan, std::nan(""))).find("nan"), std::string::npos);
    char tiny[4];
    std::memset(tiny, '#', sizeof tiny);
    w->formatNits(tiny, 3, -1e300);
    EXPECT_EQ(std::strlen(tiny), 2u);
    EXPECT_EQ(tiny[3], '#');

    // Colours beyond the depth (unchecked by design) still give a bounded
    // caption: PQ of a huge signal is not a number.
    t.setGen({{"OutputTitling", "true"}});
    t.render({{"Pattern", "Window"}, {"Color_Red", "4000000000"}, {"Color_Green", "4000000000"},
              {"Color_Blue", "4000000000"}});
    t.render({{"Pattern", "Window"}, {"Color_Red", "1800"}, {"Color_Green", "1800"}, {"Color_Blue", "1800"}});
}

TEST(Window, AliasesAndTheRasterPreset)
{
    PatternHarness t(64, 64, 10);
    QiParams p;
    EXPECT_EQ(t.engine.resolvePattern("Raster", p), t.engine.findRenderer("Window"));
    const char *v = nullptr;
    ASSERT_TRUE(p.get("Size", v));
    EXPECT_STREQ(v, "100");
    EXPECT_FALSE(p.get("Color_Red", v)) << "Raster keeps the descriptor's mid grey";
    QiParams q;
    EXPECT_EQ(t.engine.resolvePattern("Window16.80", q), t.engine.findRenderer("Window"));
    ASSERT_TRUE(q.get("Color_Green", v));
    EXPECT_STREQ(v, "764");
    ASSERT_TRUE(q.get("Size", v));
    EXPECT_STREQ(v, "16");
}

TEST(Window, OptionsAsPublished)
{
    PatternHarness t(64, 64, 10);
    const std::vector<std::string> want = {
        "Style|Enumeration|The Style to use to render windows|DefaultValue=Constant Size|Style0=Constant Size|"
        "Style1=Constant APL|nVal=2",
        "Size|Integer|The size of the windows, as a percentage of full screen|DefaultValue=100|MaxValue=100|"
        "MinValue=0|when Style=Constant Size/1",
        "APL|Integer|The average picture level windows|DefaultValue=15|MaxValue=99|MinValue=1|when Style=Constant APL/1",
        "Color|RGB|The color of the window|DefaultIsRGB=false|DefaultValueB=502|DefaultValueG=502|DefaultValueR=502",
        "BgColor|RGB|The background color|DefaultIsRGB=false|DefaultValueB=64|DefaultValueG=64|DefaultValueR=64|"
        "when Style=Constant Size/1",
        "xOffset|Integer|The horizontal position of the window in percentages (default is centered)|DefaultValue=50|"
        "MaxValue=100|MinValue=0",
        "yOffset|Integer|The vertical position of the window in percentages (default is centered)|DefaultValue=50|"
        "MaxValue=100|MinValue=0",
        "loPluge|Boolean|Display low level pluge bars|DefaultValue=false|when Style=Constant Size/1",
        "hiPluge|Boolean|Display high level pluge bars|DefaultValue=false|when Style=Constant Size/1",
        "gridLines|Boolean|Overlay gridlines on the pattern|DefaultValue=false",
        "hDiv|Integer|The number of horzontal divisions|DefaultValue=5|MaxValue=480|MinValue=2|when gridLines=true/1",
        "vDiv|Integer|The number of veritcal divisions|DefaultValue=5|MaxValue=480|MinValue=2|when gridLines=true/1",
    };
    EXPECT_EQ(publishedOptions(t.engine, "Window"), want);
    EXPECT_STREQ(t.engine.findRenderer("Window")->revision, "$Revision: 1.9 $");
}
