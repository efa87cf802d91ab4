#include "PatternHarness.h"
#include "QiColor.h"
#include "QiSinusoid.h"
#include "StereoRaster.h"

#include <string>

namespace {

// The definition, pixel by pixel: dx = (W-1-x) - cx, dy = (H-1-y) - cy,
// i = int(scale*(dx^2 + dy^2)/1023.0 + 0.5) & 1023 with the product an
// unsigned 32-bit integer.
void expectZonePlate(const QiImage &img, int32_t scale, int32_t cx, int32_t cy, uint64_t from, uint64_t to)
{
    const uint16_t *t = qiSinusoidTable();
    const int32_t w = img.width(), h = img.height();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int64_t dx = (w - 1 - x) - int64_t{cx}, dy = (h - 1 - y) - int64_t{cy};
            const uint32_t u = static_cast<uint32_t>(scale) * static_cast<uint32_t>(dx * dx + dy * dy);
            const int i = static_cast<int>(static_cast<int64_t>(u / 1023.0 + 0.5) & 1023);
            const uint64_t want = interpolateColor(img.bits(), t[i] / 1023.0, from, to);
            ASSERT_EQ(img.pixel(x, y), want) << x << "," << y << " scale " << scale << " centre " << cx;
        }
}

QiParams request(const std::string &scale, const char *stereo = nullptr)
{
    QiParams p;
    p.set("Pattern", "ZonePlate");
    p.set("Scale", scale);
    if (stereo)
        p.set("Stereo", stereo);
    return p;
}

} // namespace

TEST(ZonePlate, CentrePixelAndNeighboursAreTheMidColourAtEveryScale)
{
    PatternHarness t(1920, 1080, 10);
    for (const char *scale : {"16", "100", "235"}) {
        SCOPED_TRACE(scale);
        t.render(request(scale));
        // 64 + 876 * 511/1023, truncated.
        for (auto [x, y] : {std::pair{959, 539}, {958, 539}, {960, 539}, {959, 538}, {959, 540}})
            EXPECT_EQ(t.at(x, y), (Rgb{501, 501, 501})) << x << "," << y;
        // dx^2 + dy^2 = 2: int(2*235/1023 + 0.5) = 0 as well, 4 reaches 1 at 235.
        EXPECT_EQ(t.at(958, 538), (Rgb{501, 501, 501}));
    }
    t.render(request("235"));
    EXPECT_EQ(t.raster.pixel(957, 539), interpolateColor(10, qiSinusoidTable()[1] / 1023.0, t.grey(64), t.grey(940)));
}

TEST(ZonePlate, EveryPixelFollowsTheDefinition)
{
    {
        PatternHarness t(1920, 1080, 10);
        for (int32_t scale : {16, 57, 100, 235}) {
            t.render(request(std::to_string(scale)));
            expectZonePlate(t.raster, scale, 960, 540, t.grey(64), t.grey(940));
        }
        // Clamped into 16..235; colours from the request.
        QiParams p = request("3");
        p.set("StartColor_Red", "1000");
        p.set("EndColor_Green", "7");
        t.render(p);
        expectZonePlate(t.raster, 16, 960, 540, t.raster.pack(1000, 64, 64), t.raster.pack(940, 7, 940));
        t.render(request("1000"));
        expectZonePlate(t.raster, 235, 960, 540, t.grey(64), t.grey(940));
    }
    PatternHarness t(721, 487, 8);
    for (int32_t scale : {16, 99, 235}) {
        t.render(request(std::to_string(scale)));
        // Rings centred on (359, 242).
        EXPECT_EQ(t.at(359, 242), (Rgb{125, 125, 125}));
        expectZonePlate(t.raster, scale, 360, 243, t.grey(16), t.grey(235));
    }
}

TEST(ZonePlate, StereoOffsetOnlyWithASecondEyeBuffer)
{
    // No card offers a second eye: the offset stays 0 whatever Stereo says.
    {
        PatternHarness t(640, 360, 10);
        t.render(request("100", "60"));
        expectZonePlate(t.raster, 100, 320, 180, t.grey(64), t.grey(940));
    }
    StereoRaster raster(640, 360, 10);
    OvCore engine;
    engine.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    auto draw = [&](const char *stereo) {
        QiParams p = request("150", stereo);
        OvPatternRenderer *r = engine.resolvePattern("ZonePlate", p);
        ASSERT_NE(r, nullptr);
        raster.filled.clear();
        raster.second.fill(PatternHarness::kPoison);
        r->render(&engine, &raster, p);
    };
    const uint64_t k = raster.pack(64, 64, 64), w = raster.pack(940, 940, 940);
    // f = 60 * 640 / 200 = 192: the frame buffer centred with cx = 320 - 192,
    // the second eye with cx = 320 + 192, each eye reported once filled.
    draw("60");
    expectZonePlate(raster, 150, 128, 180, k, w);
    expectZonePlate(raster.second, 150, 512, 180, k, w);
    EXPECT_EQ(raster.filled, (std::vector<int32_t>{0, 1}));
    // -33 * 640 / 200 = -105.6, truncated toward zero.
    draw("-33");
    expectZonePlate(raster, 150, 425, 180, k, w);
    expectZonePlate(raster.second, 150, 215, 180, k, w);
    EXPECT_EQ(raster.filled, (std::vector<int32_t>{0, 1}));
    // No offset: one eye only, nothing reported, the second buffer untouched.
    draw("0");
    expectZonePlate(raster, 150, 320, 180, k, w);
    EXPECT_EQ(raster.second.pixel(0, 0), PatternHarness::kPoison);
    EXPECT_TRUE(raster.filled.empty());
    EXPECT_EQ(raster.renders, 3);
    engine.shutdown();
}

TEST(ZonePlate, OptionsAsPublished)
{
    PatternHarness t(64, 48, 8);
    OvPatternRenderer *r = t.engine.findRenderer("ZonePlate");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->revision, "$Revision: 1.6 $");
    std::vector<QiParams> opts;
    ASSERT_TRUE(t.engine.getPatternOpts("ZonePlate", opts));
    ASSERT_EQ(opts.size(), 4u);
    auto text = [&](size_t i, const char *key) {
        const char *v = "";
        opts[i].get(key, v);
        return std::string(v);
    };
    EXPECT_EQ(text(0, "Name") + ":" + text(0, "Description"), "Scale:The scale of the zone plate");
    EXPECT_EQ(text(0, "MinValue") + "/" + text(0, "MaxValue") + "/" + text(0, "DefaultValue"), "16/235/100");
    EXPECT_EQ(text(1, "Name") + ":" + text(1, "Description"), "Stereo:The stereo separation zone plate");
    EXPECT_EQ(text(1, "MinValue") + "/" + text(1, "MaxValue") + "/" + text(1, "DefaultValue"), "-100/100/0");
    EXPECT_EQ(text(2, "Name") + ":" + text(2, "Description"), "StartColor:The RGB starting color");
    EXPECT_EQ(text(3, "Name") + ":" + text(3, "Description"), "EndColor:The RGB ending color");
    // The 8-bit raster's black and white.
    EXPECT_EQ(text(2, "DefaultValueR") + "," + text(2, "DefaultValueG") + "," + text(2, "DefaultValueB"), "16,16,16");
    EXPECT_EQ(text(3, "DefaultValueR") + "," + text(3, "DefaultValueG") + "," + text(3, "DefaultValueB"),
              "235,235,235");
}
