#include "QiColor.h"
#include "QiImage.h"
#include "QiSinusoid.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

bool same(const QiImage &a, const QiImage &b)
{
    return a.width() == b.width() && a.height() == b.height() &&
           std::memcmp(a.data(), b.data(), static_cast<size_t>(a.width()) * a.height() * 8) == 0;
}

void noise(QiImage &img, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < img.height(); ++y)
        for (int32_t x = 0; x < img.width(); ++x)
            img.row(y)[x] = rng() & 0x3FFFFFFF;
}

// Per-pixel definitions through setPixel.
void refFillRect(QiImage &img, uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (w == -1)
        w = img.width() - x;
    if (h == -1)
        h = img.height() - y;
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i)
            img.setPixel(x + i, y + j, word);
}

void refBlit(QiImage &img, const QiImage &src, int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t w, int32_t h)
{
    if (w == -1)
        w = src.width();
    if (h == -1)
        h = src.height();
    w = std::min({w, img.width() - dx, src.width() - sx});
    h = std::min({h, img.height() - dy, src.height() - sy});
    if (h <= 0)
        return;
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i) {
            int32_t px = sx + i, py = sy + j;
            if (px < 0 || py < 0 || px >= src.width() || py >= src.height())
                continue;
            img.setPixel(dx + i, dy + j, src.pixel(px, py));
        }
}

void refGrid(QiImage &img, uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h, int32_t columns, int32_t rows,
             int32_t xs, int32_t ys)
{
    if (rows <= 0)
        return;
    for (int32_t i = 0; i < columns; ++i) {
        int32_t px = x + xs + i * w / columns;
        for (int32_t j = std::min(y, y + h); j <= std::max(y, y + h); ++j)
            img.setPixel(px, j, word);
    }
    for (int32_t j = 0; j < rows; ++j) {
        int32_t py = y + ys + j * h / rows;
        for (int32_t i = std::min(x, x + w); i <= std::max(x, x + w); ++i)
            img.setPixel(i, py, word);
    }
}

std::set<std::pair<int, int>> setPixels(const QiImage &img, uint64_t word)
{
    std::set<std::pair<int, int>> s;
    for (int32_t y = 0; y < img.height(); ++y)
        for (int32_t x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == word)
                s.insert({x, y});
    return s;
}

} // namespace

TEST(QiImage, SetPixelResizeAndFillRectEdges)
{
    QiImage img(4, 3, 10);
    EXPECT_FALSE(img.setPixel(4, 0, 1));
    EXPECT_FALSE(img.setPixel(0, 3, 1));
    EXPECT_FALSE(img.setPixel(-1, 0, 1));
    EXPECT_TRUE(img.setPixel(3, 2, 7));
    EXPECT_EQ(img.pixel(3, 2), 7u);

    img.fill(0);
    EXPECT_TRUE(img.fillRect(5, 0, 0, -1, -1));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(img.pixel(x, y), 5u);
    img.fill(0);
    img.fillRect(9, 2, 1, -1, -1); // to the right and bottom edges
    EXPECT_EQ(img.pixel(1, 1), 0u);
    EXPECT_EQ(img.pixel(2, 1), 9u);
    EXPECT_EQ(img.pixel(3, 2), 9u);
    EXPECT_EQ(img.pixel(3, 0), 0u);
    img.fill(0);
    img.fillRect(9, 1, 1, -2, 5); // other negative widths draw nothing
    EXPECT_EQ(setPixels(img, 9).size(), 0u);

    QiImage a(4, 4, 10);
    for (int i = 0; i < 16; ++i)
        a.data()[i] = 100 + i;
    ASSERT_TRUE(a.resize(2, 2));
    EXPECT_EQ(a.width(), 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a.data()[i], 100u + i);
    ASSERT_TRUE(a.resize(4, 4));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a.data()[i], i < 4 ? 100u + i : 0u);

    // setPixelRgb packs without masking.
    QiImage b(1, 1, 8);
    b.setPixelRgb(0, 0, 1, 2, 3);
    EXPECT_EQ(b.pixel(0, 0), (1ull << 16) | (2ull << 8) | 3);
}

TEST(QiImage, FillRectAndBlitMatchPerPixelDefinition)
{
    std::mt19937 rng(11);
    auto coord = [&](int32_t lim) { return static_cast<int32_t>(rng() % (3 * lim)) - lim; };
    for (int n = 0; n < 400; ++n) {
        QiImage fast(37, 23, 10), ref(37, 23, 10);
        noise(fast, n);
        noise(ref, n);
        int32_t x = coord(37), y = coord(23);
        int32_t w = rng() % 8 == 0 ? -1 : coord(40), h = rng() % 8 == 0 ? -1 : coord(30);
        fast.fillRect(0x12345, x, y, w, h);
        refFillRect(ref, 0x12345, x, y, w, h);
        ASSERT_TRUE(same(fast, ref)) << x << "," << y << " " << w << "x" << h;
    }
    // Extreme sizes do not overflow.
    QiImage big(8, 8, 10), bigRef(8, 8, 10);
    big.fillRect(3, INT32_MAX - 2, 0, INT32_MAX, 4);
    big.fillRect(3, INT32_MIN + 10, 2, INT32_MAX, 1);
    bigRef.fillRect(3, 0, 2, 8, 1);
    EXPECT_TRUE(same(big, bigRef));

    for (int n = 0; n < 400; ++n) {
        QiImage src(19, 13, 10);
        noise(src, 1000 + n);
        QiImage fast(31, 17, 10), ref(31, 17, 10);
        noise(fast, n);
        noise(ref, n);
        int32_t dx = coord(31), dy = coord(17), sx = coord(19), sy = coord(13);
        int32_t w = rng() % 6 == 0 ? -1 : coord(25), h = rng() % 6 == 0 ? -1 : coord(20);
        fast.blit(&src, dx, dy, sx, sy, w, h);
        refBlit(ref, src, dx, dy, sx, sy, w, h);
        ASSERT_TRUE(same(fast, ref)) << dx << "," << dy << " from " << sx << "," << sy << " " << w << "x" << h;
        // Within one image the per-pixel copy reads what it just wrote.
        QiImage self(fast.width(), fast.height(), 10), selfRef(fast.width(), fast.height(), 10);
        noise(self, 77 + n);
        noise(selfRef, 77 + n);
        self.blit(&self, dx / 2, dy / 2, sx, sy, w, h);
        refBlit(selfRef, selfRef, dx / 2, dy / 2, sx, sy, w, h);
        ASSERT_TRUE(same(self, selfRef));
    }

    // A 100x50 source from sx = 90 copies 10 columns of all 50 rows.
    QiImage src(100, 50, 10), dst(100, 50, 10);
    src.fill(4);
    dst.blit(&src, 0, 0, 90, 0, -1, -1);
    EXPECT_EQ(setPixels(dst, 4).size(), 500u);
    EXPECT_EQ(dst.pixel(9, 49), 4u);
    EXPECT_EQ(dst.pixel(10, 0), 0u);
}

// Frame-sized areas are streamed rather than stored through the cache: the
// same pixels, at every alignment, with nothing written outside.
TEST(QiImage, LargeFillsMatchPerPixelDefinition)
{
    std::mt19937 rng(3);
    QiImage fast(1031, 700, 10), ref(1031, 700, 10);
    noise(fast, 9);
    noise(ref, 9);
    // Odd and even left edges, widths of one, two, three and many pixels,
    // areas on either side of the streaming threshold, edges cut.
    const int32_t rects[][4] = {{0, 0, -1, -1},   {1, 3, 1030, 690}, {2, 0, 1, 700},   {3, 5, 2, 699},
                                {5, 1, 3, 698},   {-7, -9, 600, 400}, {900, 600, 500, 500}, {17, 11, 129, 1000},
                                {1, 1, 1029, 128}, {0, 699, 1031, 1}};
    uint64_t word = 0x3FF00FFC0ull;
    for (const auto &q : rects) {
        word = (word * 2654435761u + rng()) & 0x3FFFFFFF;
        fast.fillRect(word, q[0], q[1], q[2], q[3]);
        refFillRect(ref, word, q[0], q[1], q[2], q[3]);
        ASSERT_TRUE(same(fast, ref)) << q[0] << "," << q[1] << " " << q[2] << "x" << q[3];
    }
    fast.fill(0x155);
    for (int32_t y = 0; y < ref.height(); ++y)
        for (int32_t x = 0; x < ref.width(); ++x)
            ref.setPixel(x, y, 0x155);
    EXPECT_TRUE(same(fast, ref));

    // A picture of several megabytes (its own pages) starts as zeros and
    // keeps its first words through a resize.
    QiImage big(1024, 600, 10);
    for (size_t i = 0; i < size_t{1024} * 600; ++i)
        ASSERT_EQ(big.data()[i], 0u) << i;
    for (size_t i = 0; i < size_t{1024} * 600; ++i)
        big.data()[i] = i;
    ASSERT_TRUE(big.resize(1024, 1200));
    for (size_t i = 0; i < size_t{1024} * 1200; ++i)
        ASSERT_EQ(big.data()[i], i < size_t{1024} * 600 ? i : 0u) << i;
    ASSERT_TRUE(big.resize(300, 200));
    for (size_t i = 0; i < size_t{300} * 200; ++i)
        ASSERT_EQ(big.data()[i], i) << i;
}

TEST(QiImage, LineEndPointsAndShape)
{
    std::mt19937 rng(5);
    for (int n = 0; n < 2000; ++n) {
        int32_t x0 = rng() % 61, y0 = rng() % 41, x1 = rng() % 61, y1 = rng() % 41;
        QiImage img(61, 41, 10), back(61, 41, 10);
        img.drawLine(1, x0, y0, x1, y1);
        back.drawLine(1, x1, y1, x0, y0);
        ASSERT_EQ(img.pixel(x0, y0), 1u);
        ASSERT_EQ(img.pixel(x1, y1), 1u);
        // Drawn from both ends, so it is the same in either direction.
        ASSERT_TRUE(same(img, back)) << x0 << "," << y0 << " " << x1 << "," << y1;
        auto pts = setPixels(img, 1);
        int32_t dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
        bool vertical = dy >= dx;
        int32_t major = vertical ? dy : dx;
        ASSERT_EQ(pts.size(), static_cast<size_t>(major + 1)) << x0 << "," << y0 << " " << x1 << "," << y1;
        std::set<int> majors;
        for (auto [px, py] : pts) {
            majors.insert(vertical ? py : px);
            // Within half a pixel of the ideal line along the minor axis.
            if (major > 0) {
                double t = vertical ? double(py - y0) / (y1 - y0) : double(px - x0) / (x1 - x0);
                double ideal = vertical ? x0 + t * (x1 - x0) : y0 + t * (y1 - y0);
                ASSERT_LE(std::abs((vertical ? px : py) - ideal), 0.5 + 1e-9);
            }
        }
        ASSERT_EQ(majors.size(), pts.size());
    }
    // Clipping: a line hanging over every edge equals the same line on a
    // larger canvas, cut.
    for (int n = 0; n < 1000; ++n) {
        int32_t x0 = static_cast<int32_t>(rng() % 90) - 30, y0 = static_cast<int32_t>(rng() % 70) - 20;
        int32_t x1 = static_cast<int32_t>(rng() % 90) - 30, y1 = static_cast<int32_t>(rng() % 70) - 20;
        QiImage small(30, 20, 10), large(90, 70, 10), cut(30, 20, 10);
        small.drawLine(3, x0, y0, x1, y1);
        large.drawLine(3, x0 + 30, y0 + 20, x1 + 30, y1 + 20);
        cut.blit(&large, 0, 0, 30, 20, 30, 20);
        ASSERT_TRUE(same(small, cut));
    }
    QiImage img(4, 4, 10);
    img.drawLine(2, INT32_MIN, INT32_MIN, INT32_MIN + 3, INT32_MIN + 1);
    EXPECT_EQ(setPixels(img, 2).size(), 0u);
}

TEST(QiImage, CircleSymmetryAndClipping)
{
    for (int32_t r = 0; r < 40; ++r) {
        QiImage img(101, 101, 10);
        img.drawCircle(1, 50, 50, r);
        auto pts = setPixels(img, 1);
        ASSERT_FALSE(pts.empty());
        EXPECT_EQ(img.pixel(50 + r, 50), 1u);
        EXPECT_EQ(img.pixel(50, 50 - r), 1u);
        for (auto [x, y] : pts) {
            int dx = x - 50, dy = y - 50;
            for (auto [u, v] : {std::pair{dx, -dy}, {-dx, dy}, {dy, dx}, {-dy, -dx}})
                ASSERT_EQ(img.pixel(50 + u, 50 + v), 1u) << r;
            double d = std::sqrt(double(dx * dx + dy * dy));
            ASSERT_LT(std::abs(d - r), 1.0) << r;
        }
        // Within one octant each step moves x by one.
        std::set<int> xs;
        for (auto [x, y] : pts)
            if (x - 50 >= 0 && y - 50 >= x - 50)
                xs.insert(x);
        ASSERT_EQ(static_cast<int>(xs.size()), *xs.rbegin() - 50 + 1);
    }
    std::mt19937 rng(9);
    for (int n = 0; n < 300; ++n) {
        int32_t cx = static_cast<int32_t>(rng() % 80) - 25, cy = static_cast<int32_t>(rng() % 60) - 20;
        int32_t r = rng() % 40;
        QiImage small(30, 20, 10), large(130, 120, 10), cut(30, 20, 10);
        small.drawCircle(3, cx, cy, r);
        large.drawCircle(3, cx + 50, cy + 50, r);
        cut.blit(&large, 0, 0, 50, 50, 30, 20);
        ASSERT_TRUE(same(small, cut));
    }
}

TEST(QiImage, GridLinesMatchDefinition)
{
    QiImage img(20, 10, 10);
    img.drawGrid(1, 0, 0, 19, 9, 4, 3, 0, 0);
    // Verticals at 0, 4, 9, 14 (i*19/4), horizontals at 0, 3, 6 (j*9/3).
    for (int32_t x : {0, 4, 9, 14})
        for (int32_t y = 0; y <= 9; ++y)
            EXPECT_EQ(img.pixel(x, y), 1u);
    EXPECT_EQ(img.pixel(19, 5), 0u);
    EXPECT_EQ(img.pixel(5, 9), 0u);
    for (int32_t y : {0, 3, 6})
        for (int32_t x = 0; x <= 19; ++x)
            EXPECT_EQ(img.pixel(x, y), 1u);
    QiImage none(20, 10, 10);
    none.drawGrid(1, 0, 0, 19, 9, 4, 0, 0, 0);
    EXPECT_EQ(setPixels(none, 1).size(), 0u);

    std::mt19937 rng(3);
    auto coord = [&](int32_t lim) { return static_cast<int32_t>(rng() % (3 * lim)) - lim; };
    for (int n = 0; n < 500; ++n) {
        QiImage fast(33, 21, 10), ref(33, 21, 10);
        int32_t x = coord(33), y = coord(21), w = coord(40), h = coord(30);
        int32_t columns = static_cast<int32_t>(rng() % 12) - 1, rows = static_cast<int32_t>(rng() % 12) - 1;
        if (n % 10 == 0)
            columns = 5000 + rng() % 500; // walked by position
        int32_t xs = coord(10), ys = coord(10);
        fast.drawGrid(7, x, y, w, h, columns, rows, xs, ys);
        refGrid(ref, 7, x, y, w, h, columns, rows, xs, ys);
        ASSERT_TRUE(same(fast, ref)) << n;
    }
    // A huge count stays quick: columns 0..14 (i*15/count never reaches
    // 15) of four rows, plus the top line.
    QiImage many(16, 4, 10);
    many.drawGrid(1, 0, 0, 15, 3, INT32_MAX, 1, 0, 0);
    EXPECT_EQ(setPixels(many, 1).size(), 61u);
    EXPECT_EQ(many.pixel(14, 3), 1u);
    EXPECT_EQ(many.pixel(15, 3), 0u);
}

TEST(QiImage, GammaAndInterpolation)
{
    QiImage img(1, 1, 10);
    for (uint32_t c = 0; c < 1024; ++c) {
        uint64_t p = img.pack(c, c, 1023 - c);
        img.gammaPixel(1.0, p);
        ASSERT_EQ(p, img.pack(c, c, 1023 - c));
    }
    uint64_t p = img.pack(512, 0, 1023);
    img.gammaPixel(2.2, p);
    EXPECT_EQ(img.red(p), static_cast<uint32_t>(std::pow(512 / 1023.0, 1 / 2.2) * 1023 + 0.5));
    EXPECT_EQ(img.green(p), 0u);
    EXPECT_EQ(img.blue(p), 1023u);
    p = img.pack(0, 1, 1023);
    img.gammaPixel(-1.0, p); // no undefined conversion of infinity
    EXPECT_EQ(img.red(p), 1023u);

    EXPECT_EQ(interpolateColor(10, 0.5, 64, 940), 502u);
    EXPECT_EQ(interpolateColor8(10, 0.5, 64, 940), 500u);
    EXPECT_EQ(interpolateColor8(&img, 0.5, img.pack(64, 64, 64), img.pack(940, 940, 940)),
              img.pack(500, 500, 500));
    EXPECT_EQ(interpolateColor(8, 0.5, 64, 940 & 0xFF), static_cast<uint64_t>(64 + (172 - 64) / 2));
    EXPECT_EQ(interpolateColor8(8, 0.5, 3, 8), 5u); // no clearing at 8 bits
    const uint64_t from = img.pack(10, 500, 1000), to = img.pack(1000, 20, 10);
    EXPECT_EQ(interpolateColor(10, 0.0, from, to), from);
    EXPECT_EQ(interpolateColor(10, 1.0, from, to), to);
    // Truncation toward zero on a falling component: 500 + (20-500)*0.3 = 356.
    EXPECT_EQ(img.green(interpolateColor(10, 0.3, from, to)), 356u);
    EXPECT_EQ(interpolateColor(10, 1e300, from, to), 0u);
}

TEST(QiImage, SinusoidTableAndCordic)
{
    const uint16_t *t = qiSinusoidTable();
    const std::pair<int, int> telling[] = {{0, 511},  {64, 149}, {126, 0},  {192, 150}, {256, 513},  {320, 874},
                                           {382, 1022}, {512, 508}, {640, 0}, {768, 516}, {896, 1022}, {1023, 533}};
    for (auto [i, v] : telling)
        EXPECT_EQ(t[i], v) << i;
    int maxStep = 0;
    for (int i = 0; i < 1024; ++i) {
        ASSERT_LE(t[i], 1022);
        if (i < 1023)
            maxStep = std::max(maxStep, std::abs(int(t[i + 1]) - int(t[i])));
    }
    EXPECT_LE(maxStep, 8); // smooth: the cosine's steepest slope is ~6.3 per entry
    EXPECT_LT(t[1], t[0]);  // falls first

    for (int deg = -179; deg <= 180; ++deg) {
        double a = deg * std::acos(-1.0) / 180;
        int64_t dx = std::llround(std::cos(a) * 1e6), dy = std::llround(std::sin(a) * 1e6);
        double got = qiCordicAngle(dx, dy) / 65536.0;
        double want = std::atan2(double(dy), double(dx)) * 180 / std::acos(-1.0);
        ASSERT_NEAR(got, want, 0.001) << deg;
    }
    EXPECT_EQ(qiCordicAngle(0, 0), 0);
    EXPECT_EQ(qiCordicAngle(-5, 0) > 0, true); // -180 is outside the range
    EXPECT_NEAR(qiCordicAngle(-5, 0) / 65536.0, 180.0, 0.001);
    EXPECT_NEAR(qiCordicAngle(INT64_MIN, INT64_MIN) / 65536.0, -135.0, 0.001);
    EXPECT_NEAR(qiCordicAngle(1, -1) / 65536.0, -45.0, 0.001);
}

TEST(QiImage, PatternFillsFollowTheirDefinitions)
{
    const uint16_t *t = qiSinusoidTable();
    const uint64_t from = 64 | (64 << 10) | (64ull << 20), to = 940 | (940 << 10) | (940ull << 20);
    auto shade = [&](int i) { return interpolateColor(10, t[i] / 1023.0, from, to); };

    QiImage zone(64, 36, 10);
    const int32_t scale = 100;
    zone.radialFill(from, to, scale, 32 - 3, 18);
    for (int32_t y = 0; y < 36; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            int32_t dx = (64 - 1 - x) - 29, dy = (36 - 1 - y) - 18;
            uint32_t u = static_cast<uint32_t>(scale) * static_cast<uint32_t>(dx * dx + dy * dy);
            ASSERT_EQ(zone.pixel(x, y), shade(static_cast<int>(u / 1023.0 + 0.5) & 1023)) << x << "," << y;
        }
    QiImage hd(1920, 1080, 10);
    hd.radialFill(from, to, 235, 960, 540);
    EXPECT_EQ(hd.pixel(959, 539), shade(0));
    EXPECT_EQ(hd.pixel(960, 539), shade(0));

    for (bool horizontal : {true, false}) {
        QiImage sine(50, 30, 10);
        sine.chirpFill(from, to, 10, horizontal);
        for (int32_t y = 0; y < 30; ++y)
            for (int32_t x = 0; x < 50; ++x) {
                double q = horizontal ? double(x) / 50 : double(y) / 30;
                ASSERT_EQ(sine.pixel(x, y), shade(static_cast<int>(q * q * 1023.0 * 10 + 0.5) & 1023));
            }
        EXPECT_EQ(sine.pixel(0, 0), interpolateColor(10, 511 / 1023.0, from, to));
    }

    // Sector star: 36 sectors of 10 degrees alternate; away from the
    // boundaries the colour follows the angle.
    const uint64_t pal[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    QiImage star(200, 120, 10);
    star.sectorFill(pal, 2, 36, 100, 60, false);
    int checked = 0;
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x = 0; x < 200; ++x) {
            double deg = std::atan2(double(y - 60), double(x - 100)) * 180 / std::acos(-1.0) + 180;
            double sector = deg / 10;
            if (std::abs(sector - std::round(sector)) < 0.01 || (x == 100 && y == 60))
                continue;
            ++checked;
            ASSERT_EQ(star.pixel(x, y), pal[static_cast<int>(sector) % 2]) << x << "," << y;
        }
    EXPECT_GT(checked, 20000);
    star.sectorFill(pal, 8, 360, 100, 60, false); // no overflow of A*D; index in range
    for (int32_t x = 0; x < 200; ++x)
        ASSERT_GE(star.pixel(x, 0), 1u);
    star.sectorFill(pal, 8, -7, 100, 60, false); // a negative count still indexes the palette
    for (int32_t x = 0; x < 200; ++x)
        ASSERT_TRUE(star.pixel(x, 119) >= 1 && star.pixel(x, 119) <= 8);
    star.sectorFill(&from, 1, 36, 100, 60, true);
    EXPECT_EQ(star.pixel(0, 0), from);

    // Every pixel against the angle of its own offset, for plain stars with
    // a palette table and for the smooth one, rows spread over the workers.
    const uint64_t two[2] = {from, to};
    for (int32_t divisions : {36, -7, 5000}) {
        for (bool smooth : {false, true}) {
            QiImage big(333, 97, 10);
            big.sectorFill(smooth ? two : pal, smooth ? 2 : 3, divisions, 150, 41, smooth);
            for (int32_t y = 0; y < 97; ++y)
                for (int32_t x = 0; x < 333; ++x) {
                    const int64_t a = int64_t{qiCordicAngle(x - 150, y - 41)} + 180 * 65536;
                    uint64_t want;
                    if (smooth) {
                        want = shade(static_cast<int>((int64_t{divisions} * ((a / 360) >> 6)) & 1023));
                    } else {
                        int64_t k = ((a * divisions) / 360 >> 16) % 3;
                        want = pal[k < 0 ? k + 3 : k];
                    }
                    ASSERT_EQ(big.pixel(x, y), want) << x << "," << y << " divisions " << divisions;
                }
        }
    }
}

namespace {

// The primitives as defined, walked in full and clipped per pixel: the
// pixels the clipped versions must reproduce.
void refLine(QiImage &img, uint64_t word, int64_t a1, int64_t b1, int64_t a2, int64_t b2)
{
    int64_t dx = a2 - a1, dy = b2 - b1;
    const int64_t step = (dx < 0) == (dy < 0) ? 1 : -1;
    dx = std::abs(dx);
    dy = std::abs(dy);
    const bool reverse = dy >= dx;
    if (reverse) {
        std::swap(a1, b1);
        std::swap(a2, b2);
        std::swap(dx, dy);
    }
    auto plot = [&](int64_t u, int64_t v) {
        const int64_t px = reverse ? v : u, py = reverse ? u : v;
        if (px >= 0 && py >= 0 && px < img.width() && py < img.height())
            img.setPixel(static_cast<int32_t>(px), static_cast<int32_t>(py), word);
    };
    int64_t x = a1 > a2 ? a2 : a1, y = a1 > a2 ? b2 : b1, x1 = a1 > a2 ? a1 : a2, y1 = a1 > a2 ? b1 : b2;
    plot(x, y);
    if (dx == 0)
        return;
    plot(x1, y1);
    const int64_t xend = (dx - 1) / 4, left = (dx - 1) % 4, incr2 = 4 * dy - 2 * dx;
    if (incr2 < 0) {
        const int64_t c = 2 * dy, incr1 = 2 * c;
        int64_t d = incr1 - dx;
        for (int64_t i = 0; i < xend; ++i) {
            ++x;
            --x1;
            if (d < 0) {
                plot(x, y), plot(++x, y), plot(x1, y1), plot(--x1, y1);
                d += incr1;
            } else {
                if (d < c)
                    plot(x, y), plot(++x, y += step), plot(x1, y1), plot(--x1, y1 -= step);
                else
                    plot(x, y += step), plot(++x, y), plot(x1, y1 -= step), plot(--x1, y1);
                d += incr2;
            }
        }
        if (left) {
            if (d < 0) {
                plot(++x, y);
                if (left > 1)
                    plot(++x, y);
                if (left > 2)
                    plot(--x1, y1);
            } else if (d < c) {
                plot(++x, y);
                if (left > 1)
                    plot(++x, y += step);
                if (left > 2)
                    plot(--x1, y1);
            } else {
                plot(++x, y += step);
                if (left > 1)
                    plot(++x, y);
                if (left > 2)
                    plot(--x1, y1 -= step);
            }
        }
    } else {
        const int64_t c = 2 * (dy - dx), incr1 = 2 * c;
        int64_t d = incr1 + dx;
        for (int64_t i = 0; i < xend; ++i) {
            ++x;
            --x1;
            if (d > 0) {
                plot(x, y += step), plot(++x, y += step), plot(x1, y1 -= step), plot(--x1, y1 -= step);
                d += incr1;
            } else {
                if (d < c)
                    plot(x, y), plot(++x, y += step), plot(x1, y1), plot(--x1, y1 -= step);
                else
                    plot(x, y += step), plot(++x, y), plot(x1, y1 -= step), plot(--x1, y1);
                d += incr2;
            }
        }
        if (left) {
            if (d > 0) {
                plot(++x, y += step);
                if (left > 1)
                    plot(++x, y += step);
                if (left > 2)
                    plot(--x1, y1 -= step);
            } else if (d < c) {
                plot(++x, y);
                if (left > 1)
                    plot(++x, y += step);
                if (left > 2)
                    plot(--x1, y1);
            } else {
                plot(++x, y += step);
                if (left > 1)
                    plot(++x, y);
                if (left > 2)
                    plot(--x1, d > c ? (y1 -= step) : y1);
            }
        }
    }
}

void refCircle(QiImage &img, uint64_t word, int64_t cx, int64_t cy, int64_t r)
{
    auto plot = [&](int64_t px, int64_t py) {
        if (px >= 0 && py >= 0 && px < img.width() && py < img.height())
            img.setPixel(static_cast<int32_t>(px), static_cast<int32_t>(py), word);
    };
    auto plot8 = [&](int64_t x, int64_t y) {
        plot(cx + x, cy + y), plot(cx - x, cy + y), plot(cx + x, cy - y), plot(cx - x, cy - y);
        plot(cx + y, cy + x), plot(cx - y, cy + x), plot(cx + y, cy - x), plot(cx - y, cy - x);
    };
    int64_t x = 0, y = r, d = (5 - 4 * r) / 4;
    plot8(x, y);
    while (y > x) {
        if (d < 0) {
            d += 2 * x + 3;
        } else {
            d += 2 * (x - y) + 5;
            --y;
        }
        ++x;
        plot8(x, y);
    }
}

double secondsOf(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

// drawLine and drawCircle walk only what can land in the image, yet set
// exactly the pixels of the full walk: lines and circles inside, across
// the edges, far outside, and with lengths and radii in the hundreds of
// thousands.
TEST(QiImage, ClippedLinesAndCirclesSetTheDefinedPixels)
{
    std::mt19937_64 rng(17);
    auto coord = [&](int64_t spread) { return static_cast<int32_t>(static_cast<int64_t>(rng() % (2 * spread + 1)) - spread); };
    for (int n = 0; n < 6000; ++n) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 90), h = 1 + static_cast<int32_t>(rng() % 70);
        const int64_t spread = n < 3000 ? 120 : n < 5900 ? 3000 : 300000;
        const int32_t x0 = coord(spread), y0 = coord(spread), x1 = coord(spread), y1 = coord(spread);
        QiImage got(w, h, 10), want(w, h, 10);
        got.drawLine(5, x0, y0, x1, y1);
        refLine(want, 5, x0, y0, x1, y1);
        ASSERT_TRUE(same(got, want)) << w << "x" << h << ": " << x0 << "," << y0 << " " << x1 << "," << y1;
    }
    // Lines along an edge, through a corner, and with steep and shallow
    // slopes whose walk crosses the image only far from either end.
    for (int n = 0; n < 2000; ++n) {
        const int32_t w = 64, h = 48;
        const int64_t far = 1 + static_cast<int64_t>(rng() % 200000);
        const int32_t x0 = static_cast<int32_t>(-far), y0 = coord(60), x1 = static_cast<int32_t>(w + far),
                      y1 = coord(60);
        QiImage got(w, h, 10), want(w, h, 10);
        const bool vertical = n % 2;
        if (vertical) {
            got.drawLine(5, y0, x0, y1, x1);
            refLine(want, 5, y0, x0, y1, x1);
        } else {
            got.drawLine(5, x0, y0, x1, y1);
            refLine(want, 5, x0, y0, x1, y1);
        }
        ASSERT_TRUE(same(got, want)) << x0 << "," << y0 << " " << x1 << "," << y1 << " vertical " << vertical;
    }
    for (int n = 0; n < 3000; ++n) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 80), h = 1 + static_cast<int32_t>(rng() % 60);
        const int64_t spread = n < 1500 ? 100 : n < 2950 ? 5000 : 400000;
        const int32_t cx = coord(spread), cy = coord(spread);
        // Radii near the distance to the image, so the arc crosses it.
        const int64_t reach = std::max<int64_t>(std::abs(cx), std::abs(cy));
        const int32_t r = static_cast<int32_t>(n % 3 == 0 ? static_cast<int64_t>(rng() % (2 * spread + 1))
                                                          : reach + static_cast<int64_t>(rng() % 120) - 60);
        QiImage got(w, h, 10), want(w, h, 10);
        got.drawCircle(5, cx, cy, r);
        refCircle(want, 5, cx, cy, r);
        ASSERT_TRUE(same(got, want)) << w << "x" << h << ": " << cx << "," << cy << " r " << r;
    }
}

// A shape of any size costs what the image holds: a radius of 2e9 on a
// 100 x 100 image (9 s when every step of the arc was walked) and lines
// from one end of the coordinate range to the other.
TEST(QiImage, HugeShapesCostWhatTheImageHolds)
{
    QiImage img(100, 100, 10);
    const double circle = secondsOf([&] {
        img.drawCircle(1, 50, 50, 2000000000);
        img.drawCircle(2, -1999999950, 50, 2000000000);
        img.drawCircle(3, 50, 2147483647, 2147483647);
    });
    EXPECT_LT(circle, 0.25) << "three huge circles took " << circle << " s";
    // The arc through the image is there: (-1999999950 + 2e9, 50) = (50, 50).
    EXPECT_EQ(img.pixel(50, 50), 2u);
    const double lines = secondsOf([&] {
        img.drawLine(4, INT32_MIN, 0, INT32_MAX, 99);
        img.drawLine(5, 0, INT32_MIN, 99, INT32_MAX);
        img.drawLine(6, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
        img.drawLine(7, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN);
    });
    EXPECT_LT(lines, 0.25) << "four lines across the range took " << lines << " s";
    EXPECT_EQ(img.pixel(50, 50), 6u) << "the diagonal of the range crosses (50, 50)";
    EXPECT_EQ(img.pixel(0, 0), 6u);
    EXPECT_EQ(img.pixel(99, 99), 6u);
}
