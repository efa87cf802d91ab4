// The sweep fills draw spans, mirrored quarters and shared rows; every
// pixel must still be the one its own definition gives, wherever the centre
// lies and whatever the count or scale.
#include "QiColor.h"
#include "QiImage.h"
#include "QiSinusoid.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kPoison = ~uint64_t{0};
const uint64_t kFrom = 64 | (100 << 10) | (uint64_t{30} << 20), kTo = 940 | (7 << 10) | (uint64_t{1000} << 20);

uint64_t shade(int i, uint64_t from, uint64_t to)
{
    return interpolateColor(10, qiSinusoidTable()[i] / 1023.0, from, to);
}

// The sector star pixel by pixel from the shared CORDIC angle.
void expectSectors(int32_t w, int32_t h, const uint64_t *palette, int32_t n, int32_t d, int32_t cx, int32_t cy,
                   bool smooth)
{
    QiImage img(w, h, 10);
    img.fill(kPoison);
    img.sectorFill(palette, n, d, cx, cy, smooth);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int64_t a = int64_t{qiCordicAngle(x - int64_t{cx}, y - int64_t{cy})} + 180 * 65536;
            uint64_t want;
            if (smooth) {
                want = shade(static_cast<int>((int64_t{d} * ((a / 360) >> 6)) & 1023), palette[0],
                             palette[n > 1 ? 1 : 0]);
            } else {
                const int64_t k = ((a * d) / 360 >> 16) % n;
                want = palette[k < 0 ? k + n : k];
            }
            if (img.pixel(x, y) != want) {
                ADD_FAILURE() << w << "x" << h << " centre " << cx << "," << cy << " divisions " << d
                              << (smooth ? " smooth" : "") << ": pixel " << x << "," << y;
                return;
            }
        }
}

// The zone plate pixel by pixel.
void expectRings(int32_t w, int32_t h, int32_t scale, int32_t cx, int32_t cy)
{
    QiImage img(w, h, 10);
    img.fill(kPoison);
    img.radialFill(kFrom, kTo, scale, cx, cy);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint64_t dx = static_cast<uint64_t>((w - 1 - x) - int64_t{cx});
            const uint64_t dy = static_cast<uint64_t>((h - 1 - y) - int64_t{cy});
            const uint32_t u =
                static_cast<uint32_t>(scale) * (static_cast<uint32_t>(dx * dx) + static_cast<uint32_t>(dy * dy));
            const uint64_t want = shade(static_cast<int>(static_cast<int64_t>(u / 1023.0 + 0.5) & 1023), kFrom, kTo);
            if (img.pixel(x, y) != want) {
                ADD_FAILURE() << w << "x" << h << " centre " << cx << "," << cy << " scale " << scale << ": pixel " << x
                              << "," << y;
                return;
            }
        }
}

} // namespace

TEST(SweepFills, CordicStaysWellInsideTheSlackOfTheSpans)
{
    // The sector spans trust the CORDIC angle to lie within 64/65536 degree
    // of the exact angle; it should be far closer.
    const double toUnits = 180.0 / std::acos(-1.0) * 65536.0;
    double worst = 0;
    auto check = [&](int64_t dx, int64_t dy) {
        if (dx == 0 && dy == 0)
            return;
        double exact = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * toUnits;
        worst = std::max(worst, std::fabs(qiCordicAngle(dx, dy) - exact));
    };
    for (int64_t dy = -600; dy <= 600; ++dy)
        for (int64_t dx = -600; dx <= 600; ++dx)
            check(dx, dy);
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const int64_t dx = static_cast<int64_t>(rng() >> (rng() % 63)) * ((rng() & 1) ? 1 : -1);
        const int64_t dy = static_cast<int64_t>(rng() >> (rng() % 63)) * ((rng() & 1) ? 1 : -1);
        check(dx, dy);
    }
    EXPECT_LT(worst, 16.0);
    EXPECT_GT(worst, 0.5); // the check itself sees the error
}

TEST(SweepFills, SectorStarMatchesItsDefinitionWhereverTheCentreLies)
{
    const uint64_t palette[8] = {11, 22, 33, 44, 55, 66, 77, 88};
    const uint64_t two[2] = {kFrom, kTo};
    const std::pair<int32_t, int32_t> centres[] = {{128, 65},   {0, 0},     {256, 130}, {-50, 43}, {300, -20},
                                                   {85, -500}, {123, 171}, {129, 65},  {INT_MAX, INT_MIN}};
    for (auto [cx, cy] : centres) {
        for (int32_t d : {1, 2, 3, 8, 36, 360, 4096, 16384, 16385, 0, -7})
            expectSectors(257, 131, palette, d == 3 ? 8 : 3, d, cx, cy, false);
        for (int32_t d : {1, 36, 360, -7, 0})
            expectSectors(257, 131, two, 2, d, cx, cy, true);
    }
    // Thin and tiny images, a one-colour palette.
    for (auto [w, h] : {std::pair{64, 1}, {1, 64}, {2, 2}, {1, 1}}) {
        expectSectors(w, h, palette, 8, 360, w / 2, h / 2, false);
        expectSectors(w, h, two, 2, 36, w / 2, h / 2, true);
    }
    expectSectors(40, 30, two, 1, 36, 20, 15, true);
    expectSectors(40, 30, palette, 1, 36, 20, 15, false);
    // A large frame on the worker pool, with many pixels on the 45-degree
    // boundaries of eight sectors.
    expectSectors(1001, 1001, palette, 8, 8, 500, 500, false);
    expectSectors(1001, 1001, two, 2, 360, 500, 500, true);
}

TEST(SweepFills, ZonePlateMatchesItsDefinitionWhereverTheCentreLies)
{
    const std::pair<int32_t, int32_t> centres[] = {{96, 52}, {97, 53}, {0, 0},     {-40, 20},
                                                   {250, 60}, {30, -70}, {100, 500}, {-1, -1}};
    for (auto [cx, cy] : centres)
        for (int32_t scale : {1, 16, 100, 235})
            expectRings(193, 105, scale, cx, cy);
    // The product wraps at 32 bits.
    expectRings(193, 105, 70000, 96, 52);
    expectRings(40, 30, 2000000000, 19, 14);
    expectRings(1, 1, 100, 0, 0);
    expectRings(1, 9, 100, 0, 4);
    expectRings(1023, 601, 235, 511, 300); // on the worker pool
}

TEST(SweepFills, SineSweepOnTheWorkerPool)
{
    for (bool horizontal : {true, false}) {
        QiImage img(701, 403, 10);
        img.fill(kPoison);
        img.chirpFill(kFrom, kTo, 255, horizontal);
        for (int32_t y = 0; y < 403; ++y)
            for (int32_t x = 0; x < 701; ++x) {
                const double q = horizontal ? x / 701.0 : y / 403.0;
                const int i = static_cast<int>(static_cast<int64_t>(q * q * 1023.0 * 255 + 0.5) & 1023);
                ASSERT_EQ(img.pixel(x, y), shade(i, kFrom, kTo)) << x << "," << y;
            }
    }
}
