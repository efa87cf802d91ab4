// A request travels the whole way: post, generator options, colour bars,
// encoder, back-end, simulated board; the board's output is decoded again.
#include "BmdRaster.h"
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "QiLog.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"
#include "StdioOutput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

struct Expect {
    uint32_t r, g, b;
};

// Full-field 75% bars at 10 bits, K 64, L 721.
const Expect kBars[7] = {{721, 721, 721}, {721, 721, 64}, {64, 721, 721}, {64, 721, 64},
                         {721, 64, 721},  {721, 64, 64},  {64, 64, 721}};

// Posts fullfield bars, waits for the frame and checks every bar's centre
// column on a few rows of the decoded output.
void checkBars(QiRaster &raster, const char *expectLayout)
{
    OvCore core;
    core.start(&raster, nullptr, ovBuiltinRenderers());
    int32_t id = core.postPattern("fullfield");
    bool result;
    core.waitTransaction(id, result); // false only when already done
    core.shutdown();

    SimFrame frame;
    ASSERT_TRUE(SimBoards::outputFrame(frame));
    EXPECT_EQ(frame.layout, expectLayout);
    QiSignalLayout layout;
    ASSERT_TRUE(qiSignalLayoutFromName(frame.layout, layout));
    QiDecodedSignal dec, rgb;
    ASSERT_TRUE(qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height,
                               frame.rowBytes, dec));
    ASSERT_TRUE(qiSignalToRgb(dec, raster.colourEncoding(), rgb));
    const int shift = 10 - rgb.bits;
    // RGB is exact (8-bit after the shift); a YCbCr round trip quantises Y, Cb
    // and Cr once each, which moves R, G, B by up to two codes.
    const int tol = dec.ycbcr ? 2 : 0;
    for (int i = 0; i < 7; ++i) {
        int x = (2 * i + 1) * frame.width / 14;
        for (int y : {0, frame.height / 2, frame.height - 1}) {
            size_t at = static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x);
            EXPECT_NEAR(rgb.c0[at], kBars[i].r >> shift, tol) << expectLayout << " bar " << i << " y " << y;
            EXPECT_NEAR(rgb.c1[at], kBars[i].g >> shift, tol) << expectLayout << " bar " << i << " y " << y;
            EXPECT_NEAR(rgb.c2[at], kBars[i].b >> shift, tol) << expectLayout << " bar " << i << " y " << y;
        }
    }
}

class Quiet : public ::testing::Test {
protected:
    void SetUp() override { old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1)); }
    void TearDown() override
    {
        SimBoards::selectNone();
        swapLogOutput(std::move(old));
    }
    std::unique_ptr<QiOutput> old;
};

} // namespace

TEST_F(Quiet, KonaOutputCarriesTheBarsInEveryPixelFormat)
{
    struct {
        uint32_t fbf;
        const char *layout;
    } formats[] = {{0, "v210"}, {1, "uyvy"},  {2, "bgra"},  {3, "argb"},  {5, "yuy2"},
                   {6, "rgba"}, {7, "dpx10"}, {12, "rgb24"}, {13, "bgr24"}};
    for (auto &f : formats) {
        SimBoards::selectKona();
        for (uint32_t ch = 0; ch < SimKonaBoard::kChannels; ++ch)
            SimKonaBoard::instance().setFrameBufferFormat(ch, f.fbf);
        KonaRaster raster;
        ASSERT_TRUE(raster.init());
        checkBars(raster, f.layout);
    }
}

TEST_F(Quiet, DeckLinkOutputCarriesTheBarsInEveryPixelFormat)
{
    struct {
        int32_t generic;
        const char *layout;
    } formats[] = {{0, "argb"}, {1, "r210"}, {4, "uyvy"}, {5, "v210"}};
    for (auto &f : formats) {
        SimBoards::selectDeckLink();
        BmdRaster raster;
        ASSERT_TRUE(raster.init());
        // Before the render thread exists the main thread may set it up.
        raster.setOutputPixelFormat(f.generic);
        checkBars(raster, f.layout);
    }
}
