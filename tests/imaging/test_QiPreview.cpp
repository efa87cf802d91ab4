// The live view's small sRGB picture: every layout a board outputs shrinks
// to the same picture, video black and white become 0 and 255, blocks are
// averaged, and the PNG written for it reads back pixel for pixel.
#include "QiImage.h"
#include "QiImageCoder.h"
#include "QiImageFiles.h"
#include "QiPreview.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> pack(QiImageCoder &coder, QiSignalLayout layout, int encoding, size_t &rowBytes)
{
    const int32_t w = coder.image()->width(), h = coder.image()->height();
    rowBytes = layout == QiSignalLayout::r210 ? static_cast<size_t>((w + 63) / 64 * 256)
                                              : qiSignalNaturalRowBytes(layout, w);
    std::vector<uint8_t> b(rowBytes * h, 0);
    static const int uyvy[4] = {0, 1, 2, 3}, yuy2[4] = {1, 0, 3, 2};
    switch (layout) {
    case QiSignalLayout::v210: coder.encodeV210(b.data(), false, encoding); break;
    case QiSignalLayout::uyvy: coder.encodeYCbCr8(b.data(), uyvy, encoding); break;
    case QiSignalLayout::yuy2: coder.encodeYCbCr8(b.data(), yuy2, encoding); break;
    case QiSignalLayout::bgra: coder.encodeRgb32(b.data(), 2, 1, 0, 3); break;
    case QiSignalLayout::argb: coder.encodeRgb32(b.data(), 1, 2, 3, 0); break;
    case QiSignalLayout::rgba: coder.encodeRgb32(b.data(), 0, 1, 2, 3); break;
    case QiSignalLayout::rgb24: coder.encodeRgb24(b.data(), 0, 1, 2); break;
    case QiSignalLayout::bgr24: coder.encodeRgb24(b.data(), 2, 1, 0); break;
    case QiSignalLayout::dpx10: coder.encodeRgb10(b.data(), 0, 2, true); break;
    case QiSignalLayout::r210: coder.encodeRgb10(b.data(), 2, 0, false, rowBytes); break;
    case QiSignalLayout::none: break;
    }
    return b;
}

// A 10-bit frame of 96 x 54 in four vertical bands of 24 columns: video
// black, video white, pure red and a one-pixel black/white checkerboard.
void paintBands(QiImage &img)
{
    for (int y = 0; y < 54; ++y)
        for (int x = 0; x < 96; ++x) {
            const int band = x / 24;
            if (band == 0)
                img.setPixelRgb(x, y, 64, 64, 64);
            else if (band == 1)
                img.setPixelRgb(x, y, 940, 940, 940);
            else if (band == 2)
                img.setPixelRgb(x, y, 940, 64, 64);
            else {
                const uint32_t v = ((x + y) & 1) ? 940 : 64;
                img.setPixelRgb(x, y, v, v, v);
            }
        }
}

const uint8_t *px(const QiPreview &p, int x, int y)
{
    return p.rgb().data() + (static_cast<size_t>(y) * p.width() + x) * 3;
}

} // namespace

TEST(QiPreview, FactorFitsTheFrameIntoTheBox)
{
    EXPECT_EQ(QiPreview::factor(1920, 1080, 640, 360), 3);
    EXPECT_EQ(QiPreview::factor(1280, 720, 640, 360), 2);
    EXPECT_EQ(QiPreview::factor(4096, 2160, 640, 360), 7);
    EXPECT_EQ(QiPreview::factor(3840, 2160, 640, 640), 6);
    EXPECT_EQ(QiPreview::factor(320, 240, 640, 360), 1) << "never enlarged";
    EXPECT_EQ(QiPreview::factor(720, 486, 640, 360), 2);
    EXPECT_EQ(QiPreview::factor(100, 100, 0, -5), 100) << "a box below one pixel counts as one";
}

TEST(QiPreview, EveryLayoutGivesTheSamePicture)
{
    QiImage img(96, 54, 10);
    paintBands(img);
    QiImageCoder coder(&img);
    for (QiSignalLayout layout :
         {QiSignalLayout::v210, QiSignalLayout::uyvy, QiSignalLayout::yuy2, QiSignalLayout::bgra, QiSignalLayout::argb,
          QiSignalLayout::rgba, QiSignalLayout::rgb24, QiSignalLayout::bgr24, QiSignalLayout::dpx10,
          QiSignalLayout::r210}) {
        SCOPED_TRACE(qiSignalLayoutName(layout));
        for (int encoding : {2, 3}) {
            if (!qiSignalLayoutIsYCbCr(layout) && encoding != 2)
                continue;
            SCOPED_TRACE(encoding);
            size_t rowBytes = 0;
            const auto bytes = pack(coder, layout, encoding, rowBytes);
            QiPreview p;
            ASSERT_TRUE(p.fromSignal(layout, bytes.data(), bytes.size(), 96, 54, rowBytes, encoding, 32, 18));
            ASSERT_EQ(p.width(), 32);
            ASSERT_EQ(p.height(), 18);
            ASSERT_EQ(p.rgb().size(), 32u * 18u * 3u);
            // Blocks of 3 x 3 wholly inside a band (the chroma of a 4:2:2
            // pair may straddle a band edge, so the edge blocks are left out).
            for (int y = 0; y < 18; ++y) {
                for (int c = 0; c < 3; ++c) {
                    EXPECT_NEAR(px(p, 3, y)[c], 0, 1) << "video black";
                    EXPECT_NEAR(px(p, 11, y)[c], 255, 1) << "video white";
                }
                EXPECT_NEAR(px(p, 19, y)[0], 255, 2) << "red";
                EXPECT_NEAR(px(p, 19, y)[1], 0, 2);
                EXPECT_NEAR(px(p, 19, y)[2], 0, 2);
                // A 3 x 3 block of the checkerboard holds 5 of one and 4 of
                // the other: 4/9 or 5/9 of white.
                const int grey = px(p, 28, y)[1];
                const bool fourNinths = std::abs(grey - 113) <= 2, fiveNinths = std::abs(grey - 142) <= 2;
                EXPECT_TRUE(fourNinths || fiveNinths) << grey << " at row " << y;
            }
        }
    }
}

TEST(QiPreview, ReadsTheMatrixItIsTold)
{
    // A compressed-matrix frame read with the plain matrix loses its white:
    // the encoding must be the one the raster used.
    QiImage img(96, 54, 10);
    paintBands(img);
    QiImageCoder coder(&img);
    size_t rowBytes = 0;
    const auto bytes = pack(coder, QiSignalLayout::v210, 3, rowBytes);
    QiPreview right, wrong;
    ASSERT_TRUE(right.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 96, 54, rowBytes, 3, 32, 18));
    ASSERT_TRUE(wrong.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 96, 54, rowBytes, 2, 32, 18));
    EXPECT_NEAR(px(right, 11, 5)[1], 255, 1);
    EXPECT_LT(px(wrong, 11, 5)[1], 235);
}

TEST(QiPreview, FrameBufferPicture)
{
    QiImage img(96, 54, 10);
    paintBands(img);
    QiPreview p;
    ASSERT_TRUE(p.fromImage(img, 64, 940, 48, 27));
    ASSERT_EQ(p.width(), 48);
    ASSERT_EQ(p.height(), 27);
    EXPECT_EQ(px(p, 5, 5)[0], 0);
    EXPECT_EQ(px(p, 17, 5)[2], 255);
    EXPECT_EQ(px(p, 29, 5)[0], 255);
    EXPECT_EQ(px(p, 29, 5)[1], 0);
    // 2 x 2 blocks of the checkerboard: exactly half way.
    EXPECT_EQ(px(p, 40, 5)[1], 128);
    // Levels outside the code range clamp.
    QiImage below(4, 4, 10);
    below.fill(below.pack(0, 1023, 502));
    ASSERT_TRUE(p.fromImage(below, 64, 940, 4, 4));
    EXPECT_EQ(px(p, 1, 1)[0], 0);
    EXPECT_EQ(px(p, 1, 1)[1], 255);
    EXPECT_EQ(px(p, 1, 1)[2], 128);
    EXPECT_FALSE(p.fromImage(below, 940, 64, 4, 4)) << "white must lie above black";
    EXPECT_TRUE(p.rgb().empty());
}

TEST(QiPreview, RefusesFramesItCannotRead)
{
    QiImage img(96, 54, 10);
    paintBands(img);
    QiImageCoder coder(&img);
    size_t rowBytes = 0;
    const auto bytes = pack(coder, QiSignalLayout::v210, 2, rowBytes);
    QiPreview p;
    // One byte short of the last row, a row shorter than the layout's,
    // layout none, absurd sizes: no picture, nothing read past the end.
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size() - 1, 96, 54, rowBytes, 2, 32, 18));
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 96, 54, 16, 2, 32, 18));
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::none, bytes.data(), bytes.size(), 96, 54, rowBytes, 2, 32, 18));
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 96, 0, rowBytes, 2, 32, 18));
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 1 << 20, 1, 0, 2, 32, 18));
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, nullptr, 0, 96, 54, rowBytes, 2, 32, 18));
    EXPECT_EQ(p.width(), 0);
    EXPECT_TRUE(p.rgb().empty());
    // A huge row pitch whose product with the height overflows is refused.
    EXPECT_FALSE(p.fromSignal(QiSignalLayout::v210, bytes.data(), bytes.size(), 96, 54, SIZE_MAX / 8, 2, 32, 18));
}

TEST(QiPreview, PngReadsBackPixelForPixel)
{
    QiImage img(96, 54, 10);
    paintBands(img);
    QiPreview p;
    ASSERT_TRUE(p.fromImage(img, 64, 940, 32, 18));
    std::vector<uint8_t> png;
    ASSERT_TRUE(qiEncodePngRgb8(p.rgb().data(), p.width(), p.height(), png));
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
    auto back = loadImageFromMemory(png.data(), png.size(), 8, nullptr);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width(), 32);
    ASSERT_EQ(back->height(), 18);
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint64_t w = back->pixel(x, y);
            ASSERT_EQ(back->red(w), px(p, x, y)[0]);
            ASSERT_EQ(back->green(w), px(p, x, y)[1]);
            ASSERT_EQ(back->blue(w), px(p, x, y)[2]);
        }
    EXPECT_FALSE(qiEncodePngRgb8(p.rgb().data(), 0, 18, png));
    EXPECT_TRUE(png.empty());

    // The frame-buffer PNG in memory is the file savePng writes.
    std::vector<uint8_t> mem;
    ASSERT_TRUE(qiEncodePng(img, mem));
    char path[] = "/tmp/orvane-preview-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(img.savePng(path));
    FILE *f = std::fopen(path, "rb");
    std::vector<uint8_t> file(mem.size() + 16);
    const size_t n = std::fread(file.data(), 1, file.size(), f);
    std::fclose(f);
    std::remove(path);
    file.resize(n);
    EXPECT_EQ(file, mem);
}
