// The Nimbra test card as drawn into the data folder by the build.
#include "QiImage.h"
#include "QiImageFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

struct Rgb {
    uint32_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

// The pixel at design coordinates (1920 x 1080 grid) of a card of any size.
Rgb at(const QiImage &img, double x, double y)
{
    const double s = std::min(img.width() / 1920.0, img.height() / 1080.0);
    const uint64_t w = img.pixel(static_cast<int>(x * s), static_cast<int>(y * s));
    return {img.red(w), img.green(w), img.blue(w)};
}

} // namespace

TEST(OvTestCard, BothSizesCarryExactCodeValuesWhereTheLayoutPutsThem)
{
    for (const int h : {1080, 2160}) {
        SCOPED_TRACE(h);
        auto img = loadImage(std::string(ORVANE_DATA_DIR) + "/ImageFiles/Nimbra-Test-Card-" + std::to_string(h), 8);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(img->height(), h);
        EXPECT_EQ(img->width(), h * 16 / 9);

        // 75% bars left to right, sampled at each bar's centre.
        const Rgb bars[7] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                             {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(at(*img, 360 + (i + 0.5) * 1200 / 7, 150), bars[i]) << "bar " << i;
        // Grey steps 0..255 in elevenths, sampled above their labels.
        for (int i = 0; i <= 10; ++i) {
            const uint32_t v = std::min(255, static_cast<int>(std::lround(i * 25.5)));
            EXPECT_EQ(at(*img, 360 + (i + 0.5) * 1200 / 11, 252), (Rgb{v, v, v})) << "step " << i;
        }
        // Near black 0..20 and near white 235..255 in steps of 2.
        for (int i = 0; i <= 10; ++i) {
            const uint32_t lo = i * 2, hi = 235 + i * 2;
            EXPECT_EQ(at(*img, 360 + (i + 0.2) * 600 / 11, 710), (Rgb{lo, lo, lo})) << "low " << i;
            EXPECT_EQ(at(*img, 960 + (i + 0.2) * 600 / 11, 710), (Rgb{hi, hi, hi})) << "high " << i;
        }
        // Skin tone and full primaries.
        EXPECT_EQ(at(*img, 398, 418), (Rgb{115, 82, 68}));
        EXPECT_EQ(at(*img, 398, 630), (Rgb{255, 0, 0}));
        EXPECT_EQ(at(*img, 798, 630), (Rgb{255, 255, 0}));
        // One-pixel grating: neighbouring columns alternate black and white.
        const double s = h / 1080.0;
        const int gx = static_cast<int>(1000 * s) + 10, gy = static_cast<int>(390 * s);
        EXPECT_EQ(img->pixel(gx, gy), img->pack(0, 0, 0)) ;
        EXPECT_EQ(img->pixel(gx + 1, gy), img->pack(255, 255, 255));
        EXPECT_EQ(img->pixel(gx + 2, gy), img->pack(0, 0, 0));
        // The one-pixel white frame marks the picture's edge.
        EXPECT_EQ(img->pixel(0, h / 3), img->pack(255, 255, 255));
        EXPECT_EQ(img->pixel(img->width() - 1, h / 3), img->pack(255, 255, 255));
    }
}
