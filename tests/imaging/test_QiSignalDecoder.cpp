#include "QiImage.h"
#include "QiImageCoder.h"
#include "QiSignalDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Case {
    QiSignalLayout layout;
    int bits;
};

// Packs img into layout with the call the header names.
std::vector<uint8_t> pack(QiImageCoder &coder, QiSignalLayout layout, int encoding, size_t &rowBytes)
{
    const int32_t w = coder.image()->width(), h = coder.image()->height();
    rowBytes = layout == QiSignalLayout::r210 ? static_cast<size_t>((w + 63) / 64 * 256)
                                              : qiSignalNaturalRowBytes(layout, w);
    std::vector<uint8_t> b(rowBytes * h, 0x5A);
    static const int uyvy[4] = {0, 1, 2, 3}, yuy2[4] = {1, 0, 3, 2};
    bool ok = false;
    switch (layout) {
    case QiSignalLayout::v210: ok = coder.encodeV210(b.data(), false, encoding); break;
    case QiSignalLayout::uyvy: ok = coder.encodeYCbCr8(b.data(), uyvy, encoding); break;
    case QiSignalLayout::yuy2: ok = coder.encodeYCbCr8(b.data(), yuy2, encoding); break;
    case QiSignalLayout::bgra: ok = coder.encodeRgb32(b.data(), 2, 1, 0, 3); break;
    case QiSignalLayout::argb: ok = coder.encodeRgb32(b.data(), 1, 2, 3, 0); break;
    case QiSignalLayout::rgba: ok = coder.encodeRgb32(b.data(), 0, 1, 2, 3); break;
    case QiSignalLayout::rgb24: ok = coder.encodeRgb24(b.data(), 0, 1, 2); break;
    case QiSignalLayout::bgr24: ok = coder.encodeRgb24(b.data(), 2, 1, 0); break;
    case QiSignalLayout::dpx10: ok = coder.encodeRgb10(b.data(), 0, 2, true); break;
    case QiSignalLayout::r210: ok = coder.encodeRgb10(b.data(), 2, 0, false, rowBytes); break;
    case QiSignalLayout::none: break;
    }
    EXPECT_TRUE(ok);
    return b;
}

} // namespace

TEST(QiSignalDecoder, LayoutNames)
{
    const char *names[] = {"v210", "uyvy", "yuy2", "bgra", "argb", "rgba", "rgb24", "bgr24", "dpx10", "r210", "none"};
    for (int i = 0; i < 11; ++i) {
        QiSignalLayout l = QiSignalLayout::none;
        ASSERT_TRUE(qiSignalLayoutFromName(names[i], l));
        EXPECT_EQ(static_cast<int>(l), i);
        EXPECT_STREQ(qiSignalLayoutName(l), names[i]);
    }
    QiSignalLayout l = QiSignalLayout::v210;
    EXPECT_FALSE(qiSignalLayoutFromName("V210", l));
    EXPECT_FALSE(qiSignalLayoutFromName("", l));
    EXPECT_EQ(l, QiSignalLayout::v210);
    EXPECT_EQ(qiSignalNaturalRowBytes(QiSignalLayout::v210, 1280), 3456u);
    EXPECT_EQ(qiSignalNaturalRowBytes(QiSignalLayout::bgr24, 5), 15u);
    EXPECT_EQ(qiSignalNaturalRowBytes(QiSignalLayout::none, 5), 0u);
}

TEST(QiSignalDecoder, RgbLayoutsRoundTripExactly)
{
    for (int bits : {8, 10}) {
        QiImage img(67, 5, bits);
        std::mt19937 rng(bits);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 67; ++x)
                img.setPixelRgb(x, y, rng() & img.mask(), rng() & img.mask(), rng() & img.mask());
        QiImageCoder coder(&img);
        for (QiSignalLayout layout : {QiSignalLayout::bgra, QiSignalLayout::argb, QiSignalLayout::rgba,
                                      QiSignalLayout::rgb24, QiSignalLayout::bgr24, QiSignalLayout::dpx10,
                                      QiSignalLayout::r210}) {
            size_t rowBytes = 0;
            auto bytes = pack(coder, layout, 2, rowBytes);
            QiDecodedSignal d;
            ASSERT_TRUE(qiDecodeSignal(layout, bytes.data(), bytes.size(), 67, 5, rowBytes, d));
            const int out = qiSignalLayoutBits(layout);
            EXPECT_EQ(d.bits, out);
            EXPECT_FALSE(d.ycbcr);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 67; ++x) {
                    const uint64_t p = img.pixel(x, y);
                    auto scale = [&](uint32_t c) { return out >= bits ? c << (out - bits) : c >> (bits - out); };
                    const size_t i = static_cast<size_t>(y) * 67 + x;
                    ASSERT_EQ(d.c0[i], scale(img.red(p))) << qiSignalLayoutName(layout) << bits;
                    ASSERT_EQ(d.c1[i], scale(img.green(p)));
                    ASSERT_EQ(d.c2[i], scale(img.blue(p)));
                }
            // Truncated input and short rows are refused.
            const size_t need = rowBytes * 4 + qiSignalNaturalRowBytes(layout, 67);
            EXPECT_TRUE(qiDecodeSignal(layout, bytes.data(), need, 67, 5, rowBytes, d));
            EXPECT_FALSE(qiDecodeSignal(layout, bytes.data(), need - 1, 67, 5, rowBytes, d));
            EXPECT_TRUE(d.c0.empty());
            EXPECT_FALSE(qiDecodeSignal(layout, bytes.data(), bytes.size(), 67, 5, 10, d));
        }
    }
    QiDecodedSignal d;
    uint8_t b[16] = {};
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::none, b, 16, 1, 1, 0, d));
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::rgba, b, 16, 0, 1, 0, d));
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::rgba, b, 16, 1, kQiSignalMaxSide + 1, 0, d));
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::rgba, b, 16, 1, 2, SIZE_MAX / 2, d));
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::rgba, b, 16, 1, 3, SIZE_MAX / 2 + 1, d));
    EXPECT_FALSE(qiDecodeSignal(QiSignalLayout::rgba, nullptr, 16, 1, 1, 0, d));
}

TEST(QiSignalDecoder, YCbCrLayoutsRoundTripWithinRounding)
{
    // Pairs of equal colours inside the video range, so chroma subsampling
    // loses nothing and nothing clamps. The inverse may be off by half a
    // code in each of Y, Cb, Cr (the encoder rounds), spread by the
    // inverse matrix, plus its own rounding.
    for (QiSignalLayout layout : {QiSignalLayout::uyvy, QiSignalLayout::yuy2, QiSignalLayout::v210}) {
        const int bits = layout == QiSignalLayout::v210 ? 10 : 8;
        const int lo = 16 << (bits - 8), hi = 235 << (bits - 8);
        for (int encoding = 0; encoding < 6; ++encoding) {
            for (int32_t w : {64, 63, 7}) {
                QiImage img(w, 9, bits);
                std::mt19937 rng(encoding * 100 + w);
                for (int y = 0; y < 9; ++y)
                    for (int x = 0; x < w; x += 2) {
                        uint32_t r = lo + rng() % (hi - lo + 1), g = lo + rng() % (hi - lo + 1),
                                 b = lo + rng() % (hi - lo + 1);
                        img.setPixelRgb(x, y, r, g, b);
                        img.setPixelRgb(x + 1, y, r, g, b);
                    }
                QiImageCoder coder(&img);
                size_t rowBytes = 0;
                auto bytes = pack(coder, layout, encoding, rowBytes);
                QiDecodedSignal ycc, rgb;
                ASSERT_TRUE(qiDecodeSignal(layout, bytes.data(), bytes.size(), w, 9, 0, ycc));
                ASSERT_TRUE(ycc.ycbcr);
                ASSERT_EQ(ycc.c1.size(), static_cast<size_t>((w + 1) / 2) * 9);
                ASSERT_TRUE(qiSignalToRgb(ycc, encoding, rgb));
                // Bound of the inverse: half a code through each row of it.
                const double *m = QiImageCoder::matrixWeights(encoding);
                const double scale = 1.0 / std::min({m[0] + m[1] + m[2], 2 * m[5], 2 * m[6]});
                const int tol = static_cast<int>(std::ceil(0.5 * 3 * scale + 0.5));
                int worst = 0;
                // An odd 8-bit row's last pixel carries no Cr (tested below).
                const int32_t whole = bits == 8 ? w / 2 * 2 : w;
                for (int y = 0; y < 9; ++y)
                    for (int x = 0; x < whole; ++x) {
                        const uint64_t p = img.pixel(x, y);
                        const size_t i = static_cast<size_t>(y) * w + x;
                        worst = std::max({worst, std::abs(int(rgb.c0[i]) - int(img.red(p))),
                                          std::abs(int(rgb.c1[i]) - int(img.green(p))),
                                          std::abs(int(rgb.c2[i]) - int(img.blue(p)))});
                    }
                EXPECT_LE(worst, tol) << qiSignalLayoutName(layout) << " encoding " << encoding << " w " << w;
            }
        }
    }
    // Grey comes back exactly through an uncompressed matrix.
    QiImage grey(6, 1, 10);
    grey.fill(grey.pack(940, 940, 940));
    grey.setPixelRgb(0, 0, 64, 64, 64);
    grey.setPixelRgb(1, 0, 64, 64, 64);
    QiImageCoder coder(&grey);
    size_t rowBytes = 0;
    auto bytes = pack(coder, QiSignalLayout::v210, 2, rowBytes);
    QiDecodedSignal ycc, rgb;
    ASSERT_TRUE(qiDecodeSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 6, 1, 0, ycc));
    EXPECT_EQ(ycc.c0, (std::vector<uint16_t>{64, 64, 940, 940, 940, 940}));
    EXPECT_EQ(ycc.c1, (std::vector<uint16_t>{512, 512, 512}));
    ASSERT_TRUE(qiSignalToRgb(ycc, 2, rgb));
    EXPECT_EQ(rgb.c0, ycc.c0);
    EXPECT_EQ(rgb.c2, ycc.c0);
    // In place, as the monitor does with reused buffers.
    QiDecodedSignal same = ycc;
    ASSERT_TRUE(qiSignalToRgb(same, 2, same));
    EXPECT_EQ(same.c1, rgb.c1);
    EXPECT_FALSE(same.ycbcr);

    // Odd uyvy width: the last pixel's Y and Cb are there, its Cr is neutral.
    QiImage odd(3, 1, 8);
    odd.fill(odd.pack(200, 30, 90));
    QiImageCoder oc(&odd);
    auto ob = pack(oc, QiSignalLayout::uyvy, 0, rowBytes);
    ASSERT_TRUE(qiDecodeSignal(QiSignalLayout::uyvy, ob.data(), ob.size(), 3, 1, 0, ycc));
    EXPECT_EQ(ycc.c0[2], ycc.c0[0]);
    EXPECT_EQ(ycc.c1[1], ycc.c1[0]);
    EXPECT_EQ(ycc.c2[1], 128);
}
