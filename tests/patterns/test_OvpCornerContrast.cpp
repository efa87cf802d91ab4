// Corner patches a quarter of the 4% window, no title, the text-blend mode
// left alone, and the "Raster" alias as the fixed references register it.
#include "OvpBT815.h"
#include "OvpCornerContrast.h"
#include "OvpIDMS.h"
#include "PatternHarness.h"

#include <cstring>

namespace {

void expectCorners(PatternHarness &t, int w, int h, int pw, int ph, Rgb white, Rgb black)
{
    const int xs[] = {0, w - pw}, ys[] = {0, h - ph};
    for (int x0 : xs)
        for (int y0 : ys) {
            SCOPED_TRACE(std::to_string(x0) + "," + std::to_string(y0));
            EXPECT_EQ(t.at(x0, y0), white);
            EXPECT_EQ(t.at(x0 + pw - 1, y0 + ph - 1), white);
        }
    EXPECT_EQ(t.at(pw, 0), black);
    EXPECT_EQ(t.at(0, ph), black);
    EXPECT_EQ(t.at(w - pw - 1, 0), black);
    EXPECT_EQ(t.at(w - 1, ph), black);
    EXPECT_EQ(t.at(pw, h - 1), black);
    EXPECT_EQ(t.at(0, h - ph - 1), black);
    EXPECT_EQ(t.at(w - pw - 1, h - 1), black);
    EXPECT_EQ(t.at(w / 2, h / 2), black);
    int whites = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            whites += t.at(x, y) == white;
    EXPECT_EQ(whites, 4 * pw * ph);
}

} // namespace

TEST(CornerContrast, PatchesWithoutTitle)
{
    PatternHarness t(1920, 1080, 10);
    t.setGen({{"OutputTitling", "true"}});
    t.poison();
    t.raster.setTextBlendMode(7);
    const int before = t.raster.renders.load();
    OvPatternRenderer *r = t.render({{"Pattern", "CCRA_L20C100"}});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(t.raster.renders.load(), before + 1);
    EXPECT_EQ(t.raster.bufferCount(), 1);
    EXPECT_EQ(r->framePeriod.load(), 0);
    EXPECT_EQ(t.raster.textBlendMode(), 7) << "left as it was";
    // 192 x 108 patches, nothing else: titling on draws no text here.
    expectCorners(t, 1920, 1080, 192, 108, {940, 940, 940}, {64, 64, 64});
}

TEST(CornerContrast, OddSizeEightBit)
{
    PatternHarness t(721, 487, 8);
    t.poison();
    t.render({{"Pattern", "CCRA_L20C100"}});
    // t = 144, a = 97: 72 x 48 patches.
    expectCorners(t, 721, 487, 72, 48, {235, 235, 235}, {16, 16, 16});
}

// Each fixed reference stores its own "Raster"; the last one registered wins.
TEST(CornerContrast, RasterAliasFollowsRegistrationOrder)
{
    TestRaster raster(64, 64, 10);
    auto make = [](auto *tag) -> OvRendererFactory {
        using T = std::remove_pointer_t<decltype(tag)>;
        return [] () -> OvPatternRenderer * { return new T; };
    };
    const OvRendererFactory ccra = make(static_cast<OvpCornerContrast *>(nullptr));
    const OvRendererFactory idms = make(static_cast<OvpIDMS *>(nullptr));
    const OvRendererFactory bt815 = make(static_cast<OvpBT815 *>(nullptr));
    struct Case {
        std::vector<OvRendererFactory> builtins;
        const char *renderer;
        bool size4;
    };
    for (const Case &c : {Case{{ccra}, "CCRA_L20C100", true}, Case{{ccra, idms}, "IDMS", false},
                          Case{{ccra, idms, bt815}, "BT.815", false}}) {
        SCOPED_TRACE(c.renderer);
        OvCore engine;
        engine.start(&raster, nullptr, c.builtins);
        QiParams request;
        OvPatternRenderer *r = engine.resolvePattern("Raster", request);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(r->name(), c.renderer);
        const char *size = nullptr;
        EXPECT_EQ(request.get("Size", size), c.size4);
        if (c.size4 && size) {
            EXPECT_STREQ(size, "4");
        }
        QiParams listed;
        engine.listPatterns(listed);
        const char *entry = nullptr;
        ASSERT_TRUE(listed.get("Raster", entry));
        EXPECT_EQ(std::string(entry), std::string("Alias/") + c.renderer);
        engine.shutdown();
    }
}
