// Stripes from an offset, the last one cut at the edge; the eight-colour
// cycle and its inversion; maxima that follow the frame width.
#include "PatternHarness.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

std::string described(OvCore &engine, const char *pattern, const char *option, const char *key)
{
    std::vector<QiParams> opts;
    if (!engine.getPatternOpts(pattern, opts))
        return "?";
    for (const QiParams &p : opts) {
        const char *name, *value;
        if (p.get("Name", name) && std::string(name) == option && p.get(key, value))
            return value;
    }
    return "-";
}

bool rowsAllEqual(const QiRaster &r)
{
    for (int32_t y = 1; y < r.height(); ++y)
        if (std::memcmp(r.row(y), r.row(0), static_cast<size_t>(r.width()) * 8) != 0)
            return false;
    return true;
}

} // namespace

TEST(VerticalBar, StripesFromAnOffsetWithTheLastOneCut)
{
    PatternHarness t(1920, 1080, 10);
    const Rgb lo{64, 64, 64}, hi{940, 940, 940}, black{64, 64, 64};
    t.poison();
    t.render({{"Pattern", "VerticalBar"},
              {"width", "5"},
              {"offset", "3"},
              {"loColor_Red", "100"},
              {"loColor_Green", "200"},
              {"loColor_Blue", "300"}});
    const Rgb lo2{100, 200, 300};
    for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(t.at(x, 0), black) << x;
    // Stripe s covers 3 + 5s .. 7 + 5s: low first.
    for (int32_t x = 3; x < 1920; ++x)
        ASSERT_EQ(t.at(x, 0), ((x - 3) / 5) % 2 == 0 ? lo2 : hi) << x;
    // The last stripe (383) starts at 1918 and is cut after 1919.
    EXPECT_EQ(t.at(1917, 0), lo2);
    EXPECT_EQ(t.at(1918, 0), hi);
    EXPECT_EQ(t.at(1919, 1079), hi);
    EXPECT_TRUE(rowsAllEqual(t.raster));

    // Inverted two colours start high.
    t.render({{"Pattern", "VerticalBar"}, {"invert", "true"}});
    EXPECT_EQ(t.at(0, 0), hi);
    EXPECT_EQ(t.at(4, 0), hi);
    EXPECT_EQ(t.at(5, 0), lo);
}

TEST(VerticalBar, EightColoursInOrderAndInverted)
{
    PatternHarness t(1920, 1080, 10);
    const uint32_t K = 64, W = 940;
    const Rgb cycle[8] = {{W, W, W}, {W, K, K}, {K, W, K}, {K, K, W}, {K, W, W}, {W, K, W}, {W, W, K}, {K, K, K}};
    t.render({{"Pattern", "VerticalBar"}, {"style", "WRGBCMYK"}, {"width", "7"}});
    for (int32_t x = 0; x < 1920; ++x)
        ASSERT_EQ(t.at(x, 540), cycle[(x / 7) % 8]) << x;

    t.render({{"Pattern", "VerticalBar"}, {"style", "wrgbcmyk"}, {"invert", "yes"}, {"width", "10"}});
    EXPECT_EQ(t.at(0, 0), (Rgb{W, K, K})) << "the first stripe is red";
    for (int32_t x = 0; x < 1920; ++x)
        ASSERT_EQ(t.at(x, 1079), cycle[(x / 10 + 1) % 8]) << x;
}

TEST(VerticalBar, MaximaFollowTheFrameWidth)
{
    PatternHarness big(1920, 1080, 10), odd(721, 487, 8);
    big.render({{"Pattern", "VerticalBar"}});
    EXPECT_EQ(described(big.engine, "VerticalBar", "width", "MaxValue"), "1920");
    EXPECT_EQ(described(big.engine, "VerticalBar", "offset", "MaxValue"), "1920");
    EXPECT_EQ(described(big.engine, "VerticalBar", "width", "MinValue"), "1");
    EXPECT_EQ(described(big.engine, "VerticalBar", "width", "DefaultValue"), "5");

    odd.render({{"Pattern", "VerticalBar"}, {"width", "5000"}});
    EXPECT_EQ(described(odd.engine, "VerticalBar", "width", "MaxValue"), "721");
    EXPECT_EQ(described(odd.engine, "VerticalBar", "offset", "MaxValue"), "721");
    // One stripe, clamped to the frame, covers everything in the low colour.
    for (int32_t x = 0; x < 721; ++x)
        ASSERT_EQ(odd.at(x, 0), (Rgb{16, 16, 16})) << x;
    odd.render({{"Pattern", "VerticalBar"}, {"width", "5000"}, {"invert", "1"}, {"offset", "720"}});
    EXPECT_EQ(odd.at(719, 486), (Rgb{16, 16, 16}));
    EXPECT_EQ(odd.at(720, 486), (Rgb{235, 235, 235})) << "a one-column stripe at the last column";
    // Width 0 clamps to 1, offset beyond the frame to the width: all black.
    odd.render({{"Pattern", "VerticalBar"}, {"width", "0"}, {"offset", "99999"}, {"invert", "1"}});
    for (int32_t x = 0; x < 721; ++x)
        ASSERT_EQ(odd.at(x, 100), (Rgb{16, 16, 16})) << x;
    odd.render({{"Pattern", "VerticalBar"}, {"width", "0"}, {"style", "wrgbcmyk"}});
    EXPECT_EQ(odd.at(0, 0), (Rgb{235, 235, 235}));
    EXPECT_EQ(odd.at(1, 0), (Rgb{235, 16, 16}));
}

// The render thread moves the maxima while another thread publishes them;
// under the thread sanitizer this must be free of races.
TEST(VerticalBar, MaximaPublishedWhileRendering)
{
    PatternHarness big(1920, 1080, 10), odd(721, 487, 8);
    std::atomic<bool> done{false};
    int bad = 0, seen = 0;
    std::thread reader([&] {
        while (!done.load()) {
            for (const char *pattern : {"VerticalBar", "Checkerboard"}) {
                std::vector<QiParams> opts;
                big.engine.getPatternOpts(pattern, opts);
                for (const QiParams &p : opts) {
                    const char *v;
                    if (p.get("MaxValue", v)) {
                        const std::string s = v;
                        bad += !(s == "1920" || s == "1080" || s == "721" || s == "487" || s == "1536" ||
                                 s == "2048");
                        ++seen;
                    }
                }
            }
        }
    });
    for (int i = 0; i < 20; ++i) {
        odd.render({{"Pattern", "VerticalBar"}});
        odd.render({{"Pattern", "Checkerboard"}});
        big.render({{"Pattern", "VerticalBar"}, {"width", "1"}});
        big.render({{"Pattern", "Checkerboard"}});
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(seen, 0);
}
