// A request travels the whole way: post, generator options, colour bars,
// encoder, back-end, simulated board; the board's output is decoded again.
#include "BmdRaster.h"
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "QiLog.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"
#include "SimDeckLinkBoard.h"
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

namespace {

// Posts a request and returns once it has been processed.
void postDone(OvCore &core, const QiParams &p)
{
    int32_t id = core.post(p);
    bool result;
    core.waitTransaction(id, result); // false only when already done
}

QiParams request(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QiParams p;
    for (const auto &e : entries)
        p.set(e.first, e.second);
    return p;
}

} // namespace

// A format selected on a DeckLink card stays through any number of
// requests; the driver's default is adopted again only when it changes.
TEST_F(Quiet, DeckLinkSelectionPersistsUntilTheDriverDefaultChanges)
{
    SimBoards::selectDeckLink();
    SimDeckLinkBoard &board = SimDeckLinkBoard::instance();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    OvCore core;
    core.start(&raster, nullptr, ovBuiltinRenderers());
    auto shown = [&](int width, int height, const char *format, const char *what) {
        SimFrame frame;
        ASSERT_TRUE(SimBoards::outputFrame(frame)) << what;
        EXPECT_EQ(frame.width, width) << what;
        EXPECT_EQ(frame.height, height) << what;
        EXPECT_EQ(frame.videoFormat, format) << what;
        QiParams values;
        core.getGenValues(values);
        const char *vf = nullptr;
        ASSERT_TRUE(values.get("VideoFormat", vf));
        EXPECT_STREQ(vf, format) << what;
    };

    postDone(core, request({{"Pattern", "Colorbars"}}));
    shown(1920, 1080, "HD 1080p 60", "the driver's default at start");

    postDone(core, request({{"VideoFormat", "PAL"}}));
    shown(720, 576, "PAL", "selected");
    for (auto &r : {request({{"Pattern", "Colorbars"}}), request({{"Pattern", "fullfield"}}),
                    request({{"Pattern", "Colorbars"}, {"Style", "fullfield"}}), request({{"Brightness", "50"}}),
                    request({{"Pattern", "Colorbars"}})}) {
        const uint64_t before = board.sequence();
        postDone(core, r);
        EXPECT_GT(board.sequence(), before);
        shown(720, 576, "PAL", "after a pattern-only request");
    }
    EXPECT_EQ(board.enabledMode(), bmdFourCC("pal "));

    // Someone picks another default in the card's control panel.
    board.setDefaultMode(bmdFourCC("Hp50"));
    postDone(core, request({{"Pattern", "Colorbars"}}));
    shown(1920, 1080, "HD 1080p 50", "the new default");
    postDone(core, request({{"Pattern", "fullfield"}}));
    shown(1920, 1080, "HD 1080p 50", "and it stays");
    // A later selection again persists.
    postDone(core, request({{"VideoFormat", "720p 59.94"}}));
    postDone(core, request({{"Pattern", "Colorbars"}}));
    shown(1280, 720, "720p 59.94", "selected again");
    core.shutdown();
}

// The video mute is a flat 25 % grey: Y 280 (chroma 512) on the 10-bit
// 4:2:2 output of the 10-bit raster, 70 on its 8-bit RGB output. A gating
// colour of 255 is full scale on 8-bit output.
TEST_F(Quiet, VideoMuteAndGatingShowTheirLevelsAtTheOutputDepth)
{
    struct Output {
        uint32_t fbf;
        const char *layout;
    };
    for (const Output &o : {Output{0, "v210"}, Output{2, "bgra"}}) {
        SimBoards::selectKona();
        for (uint32_t ch = 0; ch < SimKonaBoard::kChannels; ++ch)
            SimKonaBoard::instance().setFrameBufferFormat(ch, o.fbf);
        KonaRaster raster;
        ASSERT_TRUE(raster.init());
        ASSERT_EQ(raster.bits(), 10);
        OvCore core;
        core.start(&raster, nullptr, ovBuiltinRenderers());
        auto decoded = [&](QiDecodedSignal &dec) {
            SimFrame frame;
            ASSERT_TRUE(SimBoards::outputFrame(frame));
            ASSERT_EQ(frame.layout, o.layout);
            QiSignalLayout layout;
            ASSERT_TRUE(qiSignalLayoutFromName(frame.layout, layout));
            ASSERT_TRUE(qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height,
                                       frame.rowBytes, dec));
        };
        postDone(core, request({{"Pattern", "Colorbars"}}));
        postDone(core, request({{"VideoMute", "true"}}));
        QiDecodedSignal dec;
        decoded(dec);
        for (int y : {0, dec.height / 2, dec.height - 1})
            for (int x : {0, dec.width / 3, dec.width - 2}) {
                const size_t at = static_cast<size_t>(y) * static_cast<size_t>(dec.width) + static_cast<size_t>(x);
                const size_t c = static_cast<size_t>(y) * static_cast<size_t>(dec.chromaWidth()) +
                                 static_cast<size_t>(x / 2);
                if (dec.ycbcr) {
                    EXPECT_EQ(dec.c0[at], 280u) << o.layout << " " << x << "," << y;
                    EXPECT_EQ(dec.c1[c], 512u) << o.layout << " " << x << "," << y;
                    EXPECT_EQ(dec.c2[c], 512u) << o.layout << " " << x << "," << y;
                } else {
                    EXPECT_EQ(dec.c0[at], 70u) << o.layout << " " << x << "," << y;
                    EXPECT_EQ(dec.c1[at], 70u) << o.layout << " " << x << "," << y;
                    EXPECT_EQ(dec.c2[at], 70u) << o.layout << " " << x << "," << y;
                }
            }
        if (!dec.ycbcr) {
            postDone(core, request({{"VideoMute", "false"},
                                    {"GateRed", "true"},
                                    {"GatingColor_Red", "255"},
                                    {"GatingColor_Green", "0"},
                                    {"GatingColor_Blue", "0"}}));
            decoded(dec);
            for (int x : {0, dec.width / 2, dec.width - 1})
                EXPECT_EQ(dec.c0[static_cast<size_t>(x)], 255u) << x;
        }
        core.shutdown();
    }
}

// The BT.2111 stair and PLUGE as a receiver reads them on a 10-bit Y'C'bC'r
// output: a grey's luma is its code, the -7 % step included, under either
// matrix. The full-range bars go out unchanged on an RGB output.
TEST_F(Quiet, HdrBarsKeepTheirCodesAtTheOutput)
{
    static const uint32_t kStair[13] = {4, 64, 152, 239, 327, 414, 502, 590, 677, 765, 852, 940, 1019};
    static const uint32_t kFullStair[13] = {0, 0, 102, 205, 307, 409, 512, 614, 716, 818, 921, 1023, 1023};
    struct Case {
        uint32_t fbf;
        const char *pattern, *colorimetry;
        const uint32_t *stair;
    };
    for (const Case &c : {Case{0, "BT2111-PQ", "BT.2020", kStair}, Case{0, "BT2111-HLG", "BT.709", kStair},
                          Case{7, "BT2111-PQ-Full", "BT.2020", kFullStair}}) {
        SCOPED_TRACE(c.pattern);
        SimBoards::selectKona();
        for (uint32_t ch = 0; ch < SimKonaBoard::kChannels; ++ch)
            SimKonaBoard::instance().setFrameBufferFormat(ch, c.fbf);
        KonaRaster raster;
        ASSERT_TRUE(raster.init());
        OvCore core;
        core.start(&raster, nullptr, ovBuiltinRenderers());
        postDone(core, request({{"Pattern", c.pattern}, {"Colorimetry", c.colorimetry}}));
        core.shutdown();

        SimFrame frame;
        ASSERT_TRUE(SimBoards::outputFrame(frame));
        QiSignalLayout layout;
        ASSERT_TRUE(qiSignalLayoutFromName(frame.layout, layout));
        QiDecodedSignal dec;
        ASSERT_TRUE(qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height,
                                   frame.rowBytes, dec));
        ASSERT_EQ(dec.ycbcr, c.fbf == 0);
        const int32_t W = dec.width, H = dec.height, side = W / 8, inner = W - 2 * side;
        auto at = [&](const std::vector<uint16_t> &p, int32_t x, int32_t y) {
            return p[static_cast<size_t>(y) * static_cast<size_t>(dec.width) + static_cast<size_t>(x)];
        };
        const int32_t stairRow = 15 * H / 24, rampRow = 17 * H / 24;
        for (int i = 0; i < 13; ++i) {
            const int32_t x = side + (2 * i + 1) * inner / 26;
            EXPECT_EQ(at(dec.c0, x, stairRow), c.stair[i]) << "step " << i;
            if (!dec.ycbcr) {
                EXPECT_EQ(at(dec.c1, x, stairRow), c.stair[i]) << "step " << i;
                EXPECT_EQ(at(dec.c2, x, stairRow), c.stair[i]) << "step " << i;
            }
        }
        EXPECT_EQ(at(dec.c0, side, rampRow), c.stair[0]);
        EXPECT_EQ(at(dec.c0, W - side - 1, rampRow), c.stair[12]);
    }
}
