#include "OvCore.h"
#include "OvpColorbars.h"
#include "QiLog.h"
#include "TestRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

namespace {

struct Rgb {
    uint32_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

Rgb at(const QiRaster &img, int x, int y)
{
    uint64_t w = img.pixel(x, y);
    return {img.red(w), img.green(w), img.blue(w)};
}

class Colorbars : public ::testing::Test {
protected:
    void SetUp() override { engine.start(&engineRaster, nullptr, {}); }
    void TearDown() override { engine.shutdown(); }
    void draw(TestRaster &r, const char *style, const char *brightness = nullptr)
    {
        QiParams p;
        p.set("Pattern", "Colorbars");
        if (style)
            p.set("Style", style);
        if (brightness)
            p.set("Brightness", brightness);
        bars.render(&engine, &r, p);
    }
    TestRaster engineRaster{64, 64, 10};
    OvCore engine;
    OvpColorbars bars;
};

} // namespace

TEST_F(Colorbars, TenBitDefaultsAndBrightnessExtremes)
{
    TestRaster r(1920, 1080, 10);
    draw(r, nullptr);
    EXPECT_TRUE((at(r, 0, 0) == Rgb{721, 721, 721}));
    EXPECT_TRUE((at(r, 1919, 0) == Rgb{64, 64, 721}));
    EXPECT_EQ(r.renders, 1);
    EXPECT_EQ(r.bufferCount(), 1);

    draw(r, "smpte", "100");
    EXPECT_TRUE((at(r, 0, 0) == Rgb{940, 940, 940}));
    EXPECT_TRUE((at(r, 1919, 0) == Rgb{64, 64, 940}));

    draw(r, "smpte", "0");
    for (int x = 0; x < 1920; x += 97) {
        EXPECT_TRUE((at(r, x, 10) == Rgb{64, 64, 64})) << x;
        EXPECT_TRUE((at(r, x, 700) == Rgb{64, 64, 64})) << x;
    }
    // The chips are absolute code values whatever the brightness.
    EXPECT_TRUE((at(r, 10, 1000) == Rgb{0, 64, 256}));
    EXPECT_TRUE((at(r, 700, 1000) == Rgb{128, 0, 384}));
    EXPECT_TRUE((at(r, 1400, 1000) == Rgb{28, 28, 28}));
    EXPECT_TRUE((at(r, 1600, 1000) == Rgb{100, 100, 100}));

    // Out-of-range brightness clamps.
    draw(r, "fullfield", "150");
    EXPECT_TRUE((at(r, 0, 1079) == Rgb{940, 940, 940}));
}

TEST_F(Colorbars, SmpteBoundariesAtEightBits1080)
{
    TestRaster r(1920, 1080, 8);
    draw(r, "SMPTE");
    const uint32_t L = 16 + 219 * 75 / 100;
    const Rgb grey{L, L, L}, blue{16, 16, L}, black{16, 16, 16}, minusI{0, 16, 64}, plusQ{32, 0, 96};
    EXPECT_TRUE((at(r, 0, 647) == grey));
    EXPECT_TRUE((at(r, 0, 648) == blue)) << "castellations start at row 648";
    EXPECT_TRUE((at(r, 0, 863) == blue));
    EXPECT_TRUE((at(r, 0, 864) == minusI)) << "bottom band starts at row 864";
    EXPECT_TRUE((at(r, 319, 1079) == minusI));
    EXPECT_TRUE((at(r, 320, 1079) == grey));
    EXPECT_TRUE((at(r, 639, 900) == grey));
    EXPECT_TRUE((at(r, 640, 900) == plusQ));
    EXPECT_TRUE((at(r, 959, 900) == plusQ));
    EXPECT_TRUE((at(r, 960, 900) == black));
    EXPECT_TRUE((at(r, 1370, 900) == black));
    EXPECT_TRUE((at(r, 1371, 900) == (Rgb{7, 7, 7})));
    EXPECT_TRUE((at(r, 1461, 900) == (Rgb{7, 7, 7})));
    EXPECT_TRUE((at(r, 1462, 900) == black));
    EXPECT_TRUE((at(r, 1553, 900) == black));
    EXPECT_TRUE((at(r, 1554, 900) == (Rgb{25, 25, 25})));
    EXPECT_TRUE((at(r, 1644, 900) == (Rgb{25, 25, 25})));
    EXPECT_TRUE((at(r, 1645, 900) == black));
    // Bar edges: bar 1 (yellow) starts at 1920/7 = 274.
    EXPECT_TRUE((at(r, 273, 0) == grey));
    EXPECT_TRUE((at(r, 274, 0) == (Rgb{L, L, 16})));
    // Castellation 1 is black, 2 magenta.
    EXPECT_TRUE((at(r, 300, 700) == black));
    EXPECT_TRUE((at(r, 600, 700) == (Rgb{L, 16, L})));
}

TEST_F(Colorbars, EveryLayoutCoversEveryPixelAndSplitsReverse)
{
    for (const char *style : {"smpte", "fullfield", "splitfield", "3split", "nonsense"}) {
        TestRaster r(333, 211, 10);
        r.fill(0xFFFFFFFFFFFFull); // a value no layout draws
        draw(r, style);
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x)
                ASSERT_NE(r.pixel(x, y), 0xFFFFFFFFFFFFull) << style << " " << x << "," << y;
    }
    TestRaster a(700, 300, 10), b(700, 300, 10);
    draw(a, "nonsense");
    draw(b, "smpte");
    EXPECT_EQ(0, memcmp(a.data(), b.data(), 700 * 300 * 8)) << "unmatched style renders smpte";

    TestRaster s(700, 300, 10);
    draw(s, "splitfield");
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(s.pixel(i * 100 + 50, 10), s.pixel((6 - i) * 100 + 50, 290)) << i;
        EXPECT_EQ(s.pixel(i * 100 + 50, 149), s.pixel(i * 100 + 50, 0));
    }
    TestRaster t(700, 300, 10);
    draw(t, "3split");
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(t.pixel(i * 100 + 50, 0), t.pixel(i * 100 + 50, 299));
        EXPECT_EQ(t.pixel(i * 100 + 50, 0), t.pixel((6 - i) * 100 + 50, 150));
    }
}

TEST(ColorbarsTitle, TextOnlyInTheTitleBandWhenTitlingIsOn)
{
    // Fonts are sized for the raster the engine starts on.
    TestRaster engineRaster(1920, 1080, 10);
    OvCore engine;
    engine.start(&engineRaster, ORVANE_DATA_DIR, {});
    ASSERT_NE(engine.font(OvCore::kTitleFont), nullptr);
    ASSERT_TRUE(engine.font(OvCore::kTitleFont)->ok()) << "fonts load from the data folder";
    OvpColorbars bars;
    QiParams p;
    p.set("Pattern", "Colorbars");

    TestRaster plain(1920, 1080, 10), titled(1920, 1080, 10);
    bars.render(&engine, &plain, p);
    QiParams on;
    on.set("OutputTitling", "true");
    engine.post(on);
    QiParams values;
    for (int i = 0; i < 2000; ++i) {
        engine.getGenValues(values);
        const char *v;
        if (values.get("OutputTitling", v) && std::string(v) == "1")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(engine.titling());
    bars.render(&engine, &titled, p);

    int changed = 0, minX = 1920, maxY = 0, minY = 1080;
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x)
            if (plain.pixel(x, y) != titled.pixel(x, y)) {
                ++changed;
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    EXPECT_GT(changed, 200);
    EXPECT_GE(minX, 1920 * 5 / 100 - 2) << "text starts at 5% of the width";
    EXPECT_GE(minY, 1080 * 40 / 1080);
    EXPECT_LT(maxY, 1080 / 4) << "title and format lines stay in the title band";
    engine.shutdown();
}
