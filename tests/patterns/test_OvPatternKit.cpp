#include "OvPatternKit.h"
#include "TestRaster.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

TEST(PatternKit, SplitAtFindsThePartOvSplitCuts)
{
    for (int32_t total : {1, 7, 487, 1080, 4096})
        for (int64_t n : {1, 2, 7, 11, 52, 540, 1080, 4096}) {
            int64_t part = 0;
            for (int32_t pos = 0; pos < total; ++pos) {
                while (ovSplit(total, part, n).end <= pos)
                    ++part;
                ASSERT_EQ(ovSplitAt(total, pos, n), part) << total << " " << n << " " << pos;
                const OvSpan s = ovSplit(total, part, n);
                ASSERT_TRUE(s.start <= pos && pos < s.end);
            }
        }
    EXPECT_EQ(ovRange(1080, 7, 13, 27).start, 280);
    EXPECT_EQ(ovRange(1080, 7, 13, 27).end, 520);
    EXPECT_EQ(ovSwatchColumn(1920, 0).start, 324);
    EXPECT_EQ(ovSwatchColumn(1920, 0).end, 405);
    EXPECT_EQ(ovSwatchColumn(1920, 11).end, 1920 * 59 / 71);
    EXPECT_EQ(ovSwatchLabelX(1920, 0), 365); // trunc(1920 * 13.5 / 71) = trunc(365.07)
}

// The rows run over the pool must give what fillRect gives, rectangle by
// rectangle: overlaps in order, cuts at the edges, -1 sizes, and pixels no
// rectangle covers left alone.
TEST(PatternKit, PaintRectsGivesTheFillRectPixels)
{
    std::mt19937 rng(7);
    for (auto size : {std::pair<int32_t, int32_t>{97, 61}, {1920, 1080}}) {
        const int32_t w = size.first, h = size.second;
        TestRaster a(w, h, 10), b(w, h, 10);
        for (int round = 0; round < 6; ++round) {
            a.fill(0x123456789ull + round);
            b.fill(0x123456789ull + round);
            std::vector<OvRect> rects;
            const int n = round == 0 ? 1 : 3 + static_cast<int>(rng() % 30);
            for (int i = 0; i < n; ++i) {
                auto coord = [&](int32_t limit) { return static_cast<int32_t>(rng() % (limit + 40)) - 20; };
                OvRect q{rng() & 0x3FFFFFFFull, coord(w), coord(h), coord(w), coord(h)};
                if (rng() % 8 == 0)
                    q.w = -1;
                if (rng() % 8 == 0)
                    q.h = -1;
                if (rng() % 10 == 0)
                    q.x = -5000;
                rects.push_back(q);
            }
            if (round == 5) // a grid: many one-pixel columns
                for (int32_t x = 0; x < w; x += 9)
                    rects.push_back({0x77ull, x, 0, 1, h});
            for (const OvRect &q : rects)
                a.fillRect(q.colour, q.x, q.y, q.w, q.h);
            ovPaintRects(b, rects);
            ASSERT_EQ(0, std::memcmp(a.data(), b.data(), static_cast<size_t>(w) * h * 8))
                << w << "x" << h << " round " << round;
        }
    }
    // Beyond its compose budget the list is painted one by one, same pixels.
    TestRaster a(4096, 2160, 10), b(4096, 2160, 10);
    std::vector<OvRect> rows;
    for (int32_t y = 0; y < 2160; y += 2)
        rows.push_back({static_cast<uint64_t>(y), 3, y, 4000, 1});
    for (const OvRect &q : rows)
        a.fillRect(q.colour, q.x, q.y, q.w, q.h);
    ovPaintRects(b, rows);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), size_t{4096} * 2160 * 8));
}

TEST(PatternKit, ForEachRowVisitsEveryRowOnceInsideTheFrame)
{
    TestRaster r(300, 9000, 8); // large enough for the worker pool
    std::vector<int> seen(9000, 0);
    ovForEachRow(r, -10, 9100, [&](int32_t y, uint64_t *row) {
        ++seen[static_cast<size_t>(y)];
        EXPECT_EQ(row, r.row(y));
    });
    for (int v : seen)
        ASSERT_EQ(v, 1);
    ovForEachRow(r, 50, 50, [&](int32_t, uint64_t *) { FAIL() << "empty range"; });
}
