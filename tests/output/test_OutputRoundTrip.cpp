// End to end on both simulated boards: draw a known picture, render and
// present it, read the frame on the board's output back through the signal
// decoders and compare it with the picture, for every pixel format.
#include "BmdRaster.h"
#include "CNTV2Card.h"
#include "KonaRaster.h"
#include "KonaTables.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

// Narrow-range 10-bit colours, equal over each pixel pair so that 4:2:2
// chroma holds them exactly; seed picks the picture.
void drawPicture(QiRaster &raster, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> level(64, 940);
    for (int32_t y = 0; y < raster.height(); ++y) {
        uint64_t *row = raster.row(y);
        for (int32_t x = 0; x < raster.width(); x += 2) {
            uint64_t word = raster.pack(level(rng), level(rng), level(rng));
            row[x] = word;
            if (x + 1 < raster.width())
                row[x + 1] = word;
        }
    }
}

// Largest difference between the decoded output frame and the picture, in
// code values of the layout's depth; -1 when the frame does not decode.
int maxDifference(const QiRaster &raster, const SimFrame &frame, int encoding, std::string &layoutName)
{
    layoutName = frame.layout;
    QiSignalLayout layout;
    if (!qiSignalLayoutFromName(frame.layout, layout))
        return -1;
    QiDecodedSignal decoded, rgb;
    if (!qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height, frame.rowBytes,
                        decoded) ||
        !qiSignalToRgb(decoded, encoding, rgb))
        return -1;
    if (frame.width != raster.width() || frame.height != raster.height())
        return -1;
    const int shift = raster.bits() - rgb.bits;
    int worst = 0;
    for (int32_t y = 0; y < raster.height(); ++y)
        for (int32_t x = 0; x < raster.width(); ++x) {
            uint64_t p = raster.pixel(x, y);
            size_t i = static_cast<size_t>(y) * raster.width() + x;
            worst = std::max(worst, std::abs(static_cast<int>(raster.red(p) >> shift) - rgb.c0[i]));
            worst = std::max(worst, std::abs(static_cast<int>(raster.green(p) >> shift) - rgb.c1[i]));
            worst = std::max(worst, std::abs(static_cast<int>(raster.blue(p) >> shift) - rgb.c2[i]));
        }
    return worst;
}

// RGB layouts come back exactly. YCbCr carries the rounding of its samples
// through the inverse matrix: a negative chroma sum is truncated toward zero
// after adding 0.5 (up to 1.5 codes off), and blue takes chroma times about
// 1.8, so 3 codes at 8 bits and 4 at 10 bits; the compressed matrices
// (odd encodings) widen that by 255/224 to 4 at 8 bits. A wrong layout,
// stride or buffer is off by far more.
int tolerance(const std::string &layout, int encoding)
{
    if (layout == "v210")
        return 4;
    if (layout == "uyvy" || layout == "yuy2")
        return encoding % 2 ? 4 : 3;
    return 0;
}

// Two pictures in two buffers: the presents alternate between them, and
// each comes back from the board's output.
void roundTrip(QiRaster &raster, const std::string &label)
{
    ASSERT_TRUE(raster.setBufferCount(2)) << label;
    drawPicture(raster, 1);
    ASSERT_TRUE(raster.render(0, false)) << label;
    drawPicture(raster, 2);
    // The formula path of v210 for the second buffer.
    ASSERT_TRUE(raster.render(1, true)) << label;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(raster.present(-1));
        SimFrame frame;
        ASSERT_TRUE(SimBoards::outputFrame(frame)) << label;
        drawPicture(raster, round == 0 ? 2 : 1);
        std::string layout;
        int worst = maxDifference(raster, frame, raster.colourEncoding(), layout);
        EXPECT_GE(worst, 0) << label << " " << layout;
        EXPECT_LE(worst, tolerance(layout, raster.colourEncoding())) << label << " " << layout << " buffer " << (round == 0 ? 1 : 0);
    }
}

} // namespace

TEST(OutputRoundTrip, KonaEveryCardPixelFormat)
{
    SimBoards::selectKona();
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    for (const char *format : {"720p 59.94", "525 59.94 (480i)"}) {
        ASSERT_TRUE(raster.setRasterFormat(format));
        std::vector<std::string> layouts;
        for (const auto &pf : kKonaPixelFormats) {
            if (pf.packing == KonaPacking::none)
                continue;
            // As the card's control panel would switch it.
            SimKonaBoard::instance().setFrameBufferFormat(NTV2_CHANNEL1, pf.frameBufferFormat);
            raster.rerenderP();
            ASSERT_EQ(raster.konaPixelFormat(), pf.index);
            roundTrip(raster, std::string(format) + " card format " + std::to_string(pf.index));
            SimFrame frame;
            SimBoards::outputFrame(frame);
            layouts.push_back(frame.layout);
            EXPECT_EQ(frame.videoFormat, format);
        }
        EXPECT_EQ(layouts, (std::vector<std::string>{"bgra", "argb", "rgba", "rgb24", "bgr24", "dpx10", "uyvy", "yuy2",
                                                     "v210"}));
    }
    // Every colour encoding through the YCbCr packers.
    ASSERT_TRUE(raster.setRasterFormat("720p 59.94"));
    for (int32_t generic : {4, 5}) {
        testing::internal::CaptureStderr();
        raster.setOutputPixelFormat(generic);
        testing::internal::GetCapturedStderr();
        for (int32_t encoding = 0; encoding < 6; ++encoding) {
            raster.setColourEncoding(encoding);
            roundTrip(raster, "generic " + std::to_string(generic) + " encoding " + std::to_string(encoding));
        }
    }
    SimBoards::selectNone();
}

TEST(OutputRoundTrip, DeckLinkEveryPixelFormat)
{
    SimBoards::selectDeckLink();
    BmdRaster raster;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    // PAL's 720 pixels leave r210 rows padded to the device stride.
    for (const char *format : {"720p 59.94", "PAL"}) {
        ASSERT_TRUE(raster.setRasterFormat(format));
        std::vector<std::string> layouts;
        for (int32_t generic : {0, 1, 4, 5}) {
            raster.setOutputPixelFormat(generic);
            roundTrip(raster, std::string(format) + " generic " + std::to_string(generic));
            SimFrame frame;
            SimBoards::outputFrame(frame);
            layouts.push_back(frame.layout);
            EXPECT_EQ(frame.videoFormat, format);
        }
        EXPECT_EQ(layouts, (std::vector<std::string>{"argb", "r210", "uyvy", "v210"}));
    }
    SimBoards::selectNone();
}
