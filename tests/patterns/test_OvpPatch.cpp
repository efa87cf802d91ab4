#include "OvpPatch.h"
#include "PatternHarness.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <memory>
#include <string>

namespace {

Rgb grey(uint32_t v) { return {v, v, v}; }

struct Box {
    int32_t x0, y0, x1, y1; // [x0, x1) x [y0, y1)
};

// The rectangle of pixels differing from the corner's colour, and whether
// every pixel is either the corner's or the patch's colour.
Box patchBox(const PatternHarness &t, Rgb patch)
{
    Box b{t.raster.width(), t.raster.height(), 0, 0};
    for (int32_t y = 0; y < t.raster.height(); ++y)
        for (int32_t x = 0; x < t.raster.width(); ++x)
            if (t.at(x, y) == patch) {
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x + 1);
                b.y1 = std::max(b.y1, y + 1);
            }
    return b;
}

size_t count(const PatternHarness &t, Rgb c)
{
    size_t n = 0;
    for (int32_t y = 0; y < t.raster.height(); ++y)
        for (int32_t x = 0; x < t.raster.width(); ++x)
            n += t.at(x, y) == c;
    return n;
}

// Collects log lines.
class Lines : public QiOutput {
public:
    bool write(const char *text, size_t n) override
    {
        all.append(text, n);
        return true;
    }
    std::string all;
};

} // namespace

TEST(Patch, GeometryRoundsHalfUpAtHdAndUhd)
{
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        PatternHarness t(w, h, 10);
        // The sample geometry of the calibration programs: 10 % of each side.
        t.render({{"Pattern", "Patch"}, {"Color_Red", "940"}, {"Color_Green", "940"}, {"Color_Blue", "940"},
                  {"Bits", "10"}, {"BgColor_Red", "64"}, {"BgColor_Green", "64"}, {"BgColor_Blue", "64"},
                  {"BgBits", "10"}, {"x", "0.4500"}, {"y", "0.4500"}, {"cx", "0.1000"}, {"cy", "0.1000"}});
        Box b = patchBox(t, grey(940));
        EXPECT_EQ(b.x0, w * 45 / 100) << w;
        EXPECT_EQ(b.x1, w * 55 / 100) << w;
        EXPECT_EQ(b.y0, h * 45 / 100) << h;
        EXPECT_EQ(b.y1, h * 55 / 100) << h;
        EXPECT_EQ(count(t, grey(940)), size_t(w / 10) * size_t(h / 10));
        EXPECT_TRUE(t.raster.lastExact) << "encoded with flag 1, as the window";
        EXPECT_EQ(count(t, grey(64)), size_t(w) * h - size_t(w / 10) * size_t(h / 10));

        // Edges on a half pixel go up: 0.1875 of 1080 is 202.5 -> 203, of
        // 2160 is 405 exactly; 0.3 of 1920 is 576; 0.0003 of 1920 is 0.576.
        t.render({{"Pattern", "Patch"}, {"x", "0.0003"}, {"y", "0.1875"}, {"cx", "0.3"}, {"cy", "0.25"}});
        const Rgb patch = grey(940); // 8-bit 235 by default
        b = patchBox(t, patch);
        EXPECT_EQ(b.x0, 1) << w;
        EXPECT_EQ(b.y0, h == 1080 ? 203 : 405) << h;
        // Right and bottom edges from x + cx and y + cy: 0.3003 * 1920 =
        // 576.576 -> 577; 0.4375 * 1080 = 472.5 -> 473.
        EXPECT_EQ(b.x1, w == 1920 ? 577 : 1153) << w;
        EXPECT_EQ(b.y1, h == 1080 ? 473 : 945) << h;
    }
}

TEST(Patch, DepthsShiftNeverRescaleAndSayOnceWhenBitsAreDropped)
{
    // 8-bit 235 on a 10-bit raster is 940; 10-bit 1023 stays 1023; 12-bit
    // 4095 is 1023 and 12-bit 3760 is 940.
    PatternHarness ten(1920, 1080, 10);
    ten.render({{"Pattern", "Patch"}, {"Color_Red", "235"}, {"Color_Green", "16"}, {"Color_Blue", "128"},
                {"Bits", "8"}, {"BgColor_Red", "1023"}, {"BgColor_Green", "0"}, {"BgColor_Blue", "513"},
                {"BgBits", "10"}, {"x", "0"}, {"y", "0"}, {"cx", "0.5"}, {"cy", "1"}});
    EXPECT_EQ(ten.at(0, 0), (Rgb{940, 64, 512}));
    EXPECT_EQ(ten.at(959, 1079), (Rgb{940, 64, 512}));
    EXPECT_EQ(ten.at(960, 0), (Rgb{1023, 0, 513}));
    EXPECT_EQ(ten.at(1919, 1079), (Rgb{1023, 0, 513}));
    ten.render({{"Pattern", "Patch"}, {"Color_Red", "3760"}, {"Color_Green", "4095"}, {"Color_Blue", "3"},
                {"Bits", "12"}, {"cx", "1"}, {"cy", "1"}, {"x", "0"}, {"y", "0"}});
    EXPECT_EQ(ten.at(100, 100), (Rgb{940, 1023, 0}));

    auto lines = std::make_unique<Lines>();
    Lines *log = lines.get();
    auto previous = swapLogOutput(std::move(lines));
    {
        // On an 8-bit raster 10-bit values lose their two low bits: 941 ->
        // 235, 1023 -> 255, 3 -> 0; 8-bit values are as sent.
        PatternHarness eight(1920, 1080, 8, 16, 235);
        for (int i = 0; i < 3; ++i)
            eight.render({{"Pattern", "Patch"}, {"Color_Red", "941"}, {"Color_Green", "1023"}, {"Color_Blue", "3"},
                          {"Bits", "10"}, {"BgColor_Red", "235"}, {"BgColor_Green", "16"}, {"BgColor_Blue", "0"},
                          {"BgBits", "8"}});
        EXPECT_EQ(eight.at(960, 540), (Rgb{235, 255, 0}));
        EXPECT_EQ(eight.at(0, 0), (Rgb{235, 16, 0}));
        // Values beyond the depth are clamped, with a warning each time.
        eight.render({{"Pattern", "Patch"}, {"Color_Red", "300"}, {"Color_Green", "255"}, {"Color_Blue", "0"},
                      {"Bits", "8"}});
        EXPECT_EQ(eight.at(960, 540), (Rgb{255, 255, 0}));
    }
    // Keep what was collected until it has been read.
    const auto collected = swapLogOutput(std::move(previous));
    size_t said = 0;
    for (size_t at = log->all.find("10-bit colors on a 8-bit raster"); at != std::string::npos;
         at = log->all.find("10-bit colors on a 8-bit raster", at + 1))
        ++said;
    EXPECT_LE(said, 1u) << log->all;
    EXPECT_NE(log->all.find("Color component 300 is beyond 8 bits, clamped to 255"), std::string::npos) << log->all;
}

TEST(Patch, OddSizeEdgesKeepBackgroundAndTitling)
{
    PatternHarness t(719, 485, 10);
    // Full field: one colour everywhere, the background nowhere.
    t.render({{"Pattern", "Patch"}, {"x", "0"}, {"y", "0"}, {"cx", "1"}, {"cy", "1"}, {"BgColor_Red", "1"}});
    EXPECT_EQ(count(t, grey(940)), size_t{719} * 485);
    // A patch past the right and bottom edges is cut to the frame; 0.5 of
    // 719 is 359.5 -> 360, of 485 is 242.5 -> 243.
    t.render({{"Pattern", "Patch"}, {"x", "0.5"}, {"y", "0.5"}, {"cx", "0.9"}, {"cy", "0.9"}});
    Box b = patchBox(t, grey(940));
    EXPECT_EQ(b.x0, 360);
    EXPECT_EQ(b.y0, 243);
    EXPECT_EQ(b.x1, 719);
    EXPECT_EQ(b.y1, 485);
    EXPECT_EQ(t.at(359, 242), grey(64));
    // Zero size: background only. Limits hold the fractions to 0 .. 1.
    t.render({{"Pattern", "Patch"}, {"cx", "0"}, {"cy", "0.5"}});
    EXPECT_EQ(count(t, grey(64)), size_t{719} * 485);
    t.render({{"Pattern", "Patch"}, {"x", "-3"}, {"y", "-1"}, {"cx", "7"}, {"cy", "0.01"}});
    b = patchBox(t, grey(940));
    EXPECT_EQ(b.x0, 0);
    EXPECT_EQ(b.x1, 719);
    EXPECT_EQ(b.y1, 5); // 0.01 * 485 = 4.85

    // KeepBg draws the patch only: what was there stays around it.
    t.poison();
    t.render({{"Pattern", "Patch"}, {"KeepBg", "true"}});
    EXPECT_EQ(t.raster.pixel(0, 0), PatternHarness::kPoison);
    EXPECT_EQ(t.at(359, 242), grey(940));

    // The title overlay only when asked, and only while OutputTitling is on.
    t.setGen({{"OutputTitling", "true"}});
    t.render({{"Pattern", "Patch"}, {"x", "0"}, {"y", "0"}, {"cx", "1"}, {"cy", "1"}, {"Color_Red", "100"},
              {"Color_Green", "100"}, {"Color_Blue", "100"}});
    EXPECT_EQ(count(t, grey(400)), size_t{719} * 485) << "titling drew over the patch";
    t.render({{"Pattern", "Patch"}, {"x", "0"}, {"y", "0"}, {"cx", "1"}, {"cy", "1"}, {"Color_Red", "100"},
              {"Color_Green", "100"}, {"Color_Blue", "100"}, {"Titling", "true"}});
    EXPECT_LT(count(t, grey(400)), size_t{719} * 485) << "no title though asked";
    t.setGen({{"OutputTitling", "false"}});
}

TEST(Patch, EdgeAndDepthHelpers)
{
    EXPECT_EQ(OvpPatch::edge(0.0, 1920), 0);
    EXPECT_EQ(OvpPatch::edge(1.0, 1920), 1920);
    EXPECT_EQ(OvpPatch::edge(1.5, 1920), 1920);
    EXPECT_EQ(OvpPatch::edge(-0.2, 1920), 0);
    EXPECT_EQ(OvpPatch::edge(0.1875, 1080), 203);
    EXPECT_EQ(OvpPatch::edge(0.5 / 1920, 1920), 1);
    EXPECT_EQ(OvpPatch::edge(0.49 / 1920, 1920), 0);
    EXPECT_EQ(OvpPatch::toDepth(235, 8, 10), 940u);
    EXPECT_EQ(OvpPatch::toDepth(940, 10, 8), 235u);
    EXPECT_EQ(OvpPatch::toDepth(2000, 10, 10), 1023u);
    EXPECT_EQ(OvpPatch::toDepth(4095, 12, 10), 1023u);
    EXPECT_EQ(OvpPatch::toDepth(255, 8, 12), 4080u);
}

TEST(Patch, PublishesItsOptions)
{
    PatternHarness t(64, 36, 10);
    const auto lines = publishedOptions(t.engine, "Patch");
    ASSERT_EQ(lines.size(), 10u);
    std::string names;
    for (const auto &l : lines)
        names += l.substr(0, l.find('|')) + " ";
    EXPECT_EQ(names, "Color Bits BgColor BgBits x y cx cy KeepBg Titling ");
    // Registered after the nineteen.
    EXPECT_STREQ(t.engine.renderers().back()->name(), "Patch");
}
