#include "PatternHarness.h"
#include "QiColor.h"
#include "QiSinusoid.h"
#include "StereoRaster.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int64_t kHalfTurn = 180 * 65536;

// A = angle + 180 degrees in 16.16 for every pixel, straight from the shared
// CORDIC routine, one pixel at a time.
struct Angles {
    int32_t w, h;
    std::vector<int64_t> a;
    Angles(int32_t width, int32_t height, int32_t cx, int32_t cy) : w(width), h(height)
    {
        a.reserve(static_cast<size_t>(w) * h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                a.push_back(int64_t{qiCordicAngle(x - int64_t{cx}, y - int64_t{cy})} + kHalfTurn);
    }
    int64_t at(int32_t x, int32_t y) const { return a[static_cast<size_t>(y) * w + x]; }
};

enum Style { TwoColor, Rgbcmyk, Sine };
const char *const kStyleNames[] = {"2Color", "RGBCMYK", "Sine"};

// The eight colours at the raster's levels, in their order.
std::vector<uint64_t> eightColours(const QiRaster &r)
{
    const uint32_t k = r.blackLevel(), w = r.whiteLevel();
    return {r.pack(w, k, k), r.pack(k, w, k), r.pack(k, k, w), r.pack(k, w, w),
            r.pack(w, k, w), r.pack(w, w, k), r.pack(k, k, k), r.pack(w, w, w)};
}

// The definition for one pixel.
uint64_t expected(const QiImage &img, const std::vector<uint64_t> &list, Style style, int64_t d, int64_t a)
{
    if (style == Sine) {
        const int i = static_cast<int>((d * ((a / 360) >> 6)) & 1023);
        return interpolateColor(img.bits(), qiSinusoidTable()[i] / 1023.0, list[0], list[1]);
    }
    const int64_t s = ((a * d / 360) >> 16) % static_cast<int64_t>(list.size());
    return list[static_cast<size_t>(s)];
}

// Every pixel of img against the definition. Returns how many pixels the
// CORDIC angle puts in another sector than the exact angle would: pixels on
// or next to a boundary, where a different angle routine would go wrong.
size_t expectStar(const QiImage &img, const Angles &angles, const std::vector<uint64_t> &list, Style style,
                  int64_t d, int32_t cx, int32_t cy)
{
    size_t nearBoundary = 0;
    const double toA = 180.0 / std::acos(-1.0) * 65536.0;
    for (int32_t y = 0; y < img.height(); ++y)
        for (int32_t x = 0; x < img.width(); ++x) {
            const int64_t a = angles.at(x, y);
            const uint64_t want = expected(img, list, style, d, a);
            if (img.pixel(x, y) != want) {
                ADD_FAILURE() << "pixel " << x << "," << y << " style " << kStyleNames[style] << " divisions " << d
                              << ": " << img.pixel(x, y) << " instead of " << want;
                return nearBoundary;
            }
            if (style != Sine && (x != cx || y != cy)) {
                const double exact = std::atan2(double(y - cy), double(x - cx)) * toA + kHalfTurn;
                nearBoundary += static_cast<int64_t>(std::floor(exact * d / (360.0 * 65536))) != (a * d / 360) >> 16;
            }
        }
    return nearBoundary;
}

QiParams request(Style style, int64_t divisions, const char *stereo = nullptr)
{
    QiParams p;
    p.set("Pattern", "SectorStar");
    p.set("Style", kStyleNames[style]);
    p.set("Divisions", std::to_string(divisions));
    if (stereo)
        p.set("Stereo", stereo);
    return p;
}

void everyPixel(int32_t w, int32_t h, int32_t bits)
{
    PatternHarness t(w, h, bits);
    const int32_t cx = w / 2, cy = h / 2;
    const Angles angles(w, h, cx, cy);
    const std::vector<uint64_t> two = {t.grey(t.raster.blackLevel()), t.grey(t.raster.whiteLevel())};
    const std::vector<uint64_t> eight = eightColours(t.raster);
    size_t nearBoundary = 0;
    for (int64_t d : {1, 2, 7, 36, 97, 359, 360}) {
        for (Style style : {TwoColor, Rgbcmyk, Sine}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " " + kStyleNames[style] + " " +
                         std::to_string(d));
            t.poison();
            t.render(request(style, d));
            nearBoundary += expectStar(t.raster, angles, style == Rgbcmyk ? eight : two, style, d, cx, cy);
            if (::testing::Test::HasFailure())
                return;
        }
    }
    // The frame has pixels whose sector only the CORDIC angle decides.
    EXPECT_GT(nearBoundary, 100u);
    // Divisions clamp into 1..360; Color1 and Color2 come from the request.
    t.render(request(TwoColor, 0));
    expectStar(t.raster, angles, two, TwoColor, 1, cx, cy);
    QiParams p = request(Sine, 1000);
    p.set("Color1_Red", "100");
    p.set("Color2_Blue", "3");
    t.render(p);
    const uint32_t k = t.raster.blackLevel(), wl = t.raster.whiteLevel();
    expectStar(t.raster, angles, {t.raster.pack(100, k, k), t.raster.pack(wl, wl, 3)}, Sine, 360, cx, cy);
}

} // namespace

TEST(SectorStar, EveryPixelFollowsTheDefinition)
{
    everyPixel(1920, 1080, 10);
    everyPixel(721, 487, 8);
}

TEST(SectorStar, SectorsAroundTheCentre)
{
    PatternHarness t(1920, 1080, 10);
    const double pi = std::acos(-1.0);
    // Middle of sector k of n, counted from -180 degrees, 400 pixels out.
    auto middle = [&](int k, int n) {
        const double deg = -180.0 + (k + 0.5) * 360.0 / n;
        return t.at(960 + static_cast<int32_t>(std::lround(400 * std::cos(deg * pi / 180))),
                    540 + static_cast<int32_t>(std::lround(400 * std::sin(deg * pi / 180))));
    };
    const Rgb black{64, 64, 64}, white{940, 940, 940};
    t.render(request(TwoColor, 36));
    for (int k = 0; k < 36; ++k)
        ASSERT_EQ(middle(k, 36), k % 2 ? white : black) << k;
    // Colour changes around a circle: one per sector boundary.
    int changes = 0;
    Rgb last = middle(0, 360);
    for (int k = 1; k <= 360; ++k) {
        const Rgb c = middle(k % 360, 360);
        changes += !(c == last);
        last = c;
    }
    EXPECT_EQ(changes, 36);
    // The centre has angle 0: sector 18 of 36.
    EXPECT_EQ(t.at(960, 540), black);

    t.render(request(Rgbcmyk, 36));
    const Rgb eight[8] = {{940, 64, 64}, {64, 940, 64}, {64, 64, 940}, {64, 940, 940},
                          {940, 64, 940}, {940, 940, 64}, {64, 64, 64},  {940, 940, 940}};
    for (int k = 0; k < 36; ++k)
        ASSERT_EQ(middle(k, 36), eight[k % 8]) << k;
    EXPECT_EQ(t.at(960, 540), eight[18 % 8]);

    // 360 sectors: just below +180 degrees is sector 359 (A*D near 8.5e9, past
    // 32 bits), just past -180 is sector 0.
    t.render(request(TwoColor, 360));
    EXPECT_EQ(t.at(0, 541), white);
    EXPECT_EQ(t.at(0, 539), black);
    t.render(request(Rgbcmyk, 360));
    EXPECT_EQ(t.at(0, 541), eight[359 % 8]);
    EXPECT_EQ(t.at(0, 539), eight[0]);
    // Just below and above 0 degrees on the right: sectors 180 and 179.
    EXPECT_EQ(t.at(1919, 541), eight[180 % 8]);
    EXPECT_EQ(t.at(1919, 539), eight[179 % 8]);
}

TEST(SectorStar, StereoOffsetOnlyWithASecondEyeBuffer)
{
    {
        PatternHarness t(320, 200, 10);
        t.render(request(TwoColor, 36, "100"));
        const std::vector<uint64_t> two = {t.grey(64), t.grey(940)};
        expectStar(t.raster, Angles(320, 200, 160, 100), two, TwoColor, 36, 160, 100);
    }
    StereoRaster raster(320, 200, 10);
    OvCore engine;
    engine.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    QiParams p = request(Rgbcmyk, 12, "25");
    OvPatternRenderer *r = engine.resolvePattern("SectorStar", p);
    ASSERT_NE(r, nullptr);
    r->render(&engine, &raster, p);
    // f = 25 * 320 / 200 = 40: centres at 120 and 200.
    const std::vector<uint64_t> eight = eightColours(raster);
    expectStar(raster, Angles(320, 200, 120, 100), eight, Rgbcmyk, 12, 120, 100);
    expectStar(raster.second, Angles(320, 200, 200, 100), eight, Rgbcmyk, 12, 200, 100);
    EXPECT_EQ(raster.filled, (std::vector<int32_t>{0, 1}));
    engine.shutdown();
}

TEST(SectorStar, OptionsAsPublished)
{
    PatternHarness t(64, 48, 10);
    OvPatternRenderer *r = t.engine.findRenderer("SectorStar");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->revision, "$Revision: 1.6 $");
    std::vector<QiParams> opts;
    ASSERT_TRUE(t.engine.getPatternOpts("SectorStar", opts));
    ASSERT_EQ(opts.size(), 5u);
    auto text = [&](size_t i, const char *key) {
        const char *v = "(absent)";
        opts[i].get(key, v);
        return std::string(v);
    };
    EXPECT_EQ(text(0, "Name") + ":" + text(0, "Description"), "Divisions:The scale of the zone plate");
    EXPECT_EQ(text(0, "MinValue") + "/" + text(0, "MaxValue") + "/" + text(0, "DefaultValue"), "1/360/36");
    EXPECT_EQ(text(1, "Name") + ":" + text(1, "Description"), "Style:The style of SectorStar to render");
    EXPECT_EQ(text(1, "Style0") + "," + text(1, "Style1") + "," + text(1, "Style2") + "," + text(1, "nVal"),
              "2Color,RGBCMYK,Sine,3");
    EXPECT_EQ(text(1, "DefaultValue"), "2Color");
    EXPECT_EQ(text(2, "Name") + ":" + text(2, "Description"), "Stereo:The stereo separation zone plate");
    EXPECT_EQ(text(2, "MinValue") + "/" + text(2, "MaxValue") + "/" + text(2, "DefaultValue"), "-100/100/0");
    EXPECT_EQ(text(3, "Name") + ":" + text(3, "Description"), "Color1:The first RGB color");
    EXPECT_EQ(text(4, "Name") + ":" + text(4, "Description"), "Color2:The second RGB color");
    for (size_t i : {3u, 4u}) {
        // Offered unless the style is "RGBCMYK": the one predicate with logic 0.
        EXPECT_EQ(text(i, "uiPredicatesOnField"), "Style");
        EXPECT_EQ(text(i, "uiPredicatesOnValue"), "RGBCMYK");
        EXPECT_EQ(text(i, "uiPredicateLogic"), "0");
    }
    EXPECT_EQ(text(3, "DefaultValueR") + "," + text(3, "DefaultValueG") + "," + text(3, "DefaultValueB"), "64,64,64");
    EXPECT_EQ(text(4, "DefaultValueR") + "," + text(4, "DefaultValueG") + "," + text(4, "DefaultValueB"),
              "940,940,940");
    for (size_t i : {0u, 1u, 2u})
        EXPECT_EQ(text(i, "uiPredicatesOnField"), "(absent)");
    // Without the colours in the request, the defaults set at registration.
    t.render(request(TwoColor, 4));
    EXPECT_EQ(t.at(63, 47), (Rgb{64, 64, 64})); // angle ~37 degrees: sector 2 of 4
    EXPECT_EQ(t.at(0, 47), (Rgb{940, 940, 940}));
}
