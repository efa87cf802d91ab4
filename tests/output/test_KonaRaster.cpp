#include "CNTV2Card.h"
#include "KonaRaster.h"
#include "KonaTables.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

SimKonaBoard &board() { return SimKonaBoard::instance(); }


} // namespace

TEST(KonaRaster, InitAdoptsTheCardState)
{
    konaAt(2, 0); // 1080i 59.94, 10-bit YCbCr
    {
        KonaRaster raster;
        EXPECT_EQ(raster.blackLevel(), 64);
        EXPECT_EQ(raster.whiteLevel(), 940);
        ASSERT_TRUE(raster.init());
        EXPECT_EQ(raster.formatIndex(), 3);
        EXPECT_EQ(raster.konaPixelFormat(), 8);
        EXPECT_EQ(raster.colourEncoding(), 2);
        EXPECT_EQ(raster.width(), 1920);
        EXPECT_EQ(raster.height(), 1080);
        EXPECT_EQ(raster.rowBytes(), 5120u);
        EXPECT_EQ(raster.outputPixelFormat(), 5);
        EXPECT_EQ(raster.currentFormat(), "1080i 59.94");
        EXPECT_EQ(board().calls(),
                  (std::vector<std::string>{"Open(0)", "SetReference(3,0)", "SetMode(0,0,0)", "GetFrameBufferFormat(0)",
                                            "GetVideoFormat(0)", "GetFrameGeometry(0)", "GetFrameBufferFormat(0)",
                                            "GetVideoFormat(0)"}));
        board().clearCalls();
    }
    // The destructor releases the stream of this process and closes the card.
    char release[64];
    std::snprintf(release, sizeof release, "ReleaseStreamForApplication(0x4B515244,%d)", static_cast<int>(getpid()));
    EXPECT_EQ(board().calls(), (std::vector<std::string>{release, "Close()"}));
    EXPECT_EQ(board().openCount(), 0u);

    // 525- and 625-line video is Rec601; anything else Rec709.
    for (uint32_t vf : {32u, 33u}) {
        konaAt(vf, 1);
        KonaRaster sd;
        ASSERT_TRUE(sd.init());
        EXPECT_EQ(sd.colourEncoding(), 0) << vf;
        EXPECT_EQ(sd.width(), 720);
        EXPECT_EQ(sd.height(), vf == 32 ? 486 : 576);
        EXPECT_EQ(sd.konaPixelFormat(), 6);
        EXPECT_EQ(sd.rowBytes(), 1440u);
    }
    // The starting state: 1080p 60 level A, 4K needs the four-quadrant geometry.
    konaAt(91, 7);
    KonaRaster uhd;
    ASSERT_TRUE(uhd.init());
    EXPECT_EQ(uhd.formatIndex(), 30);
    EXPECT_EQ(uhd.width(), 4096);
    EXPECT_EQ(uhd.height(), 2160);
    EXPECT_EQ(uhd.konaPixelFormat(), 5);
    EXPECT_EQ(uhd.outputPixelFormat(), 1);

    SimBoards::selectNone();
    KonaRaster none;
    EXPECT_FALSE(none.init());
}

TEST(KonaRaster, FormatListAndSelectionByName)
{
    konaAt(25, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    EXPECT_EQ(raster.formatIndex(), 18);
    std::vector<std::string> names;
    int32_t def = -1;
    ASSERT_TRUE(raster.getFormatList(names, def));
    ASSERT_EQ(names.size(), 31u);
    EXPECT_EQ(def, 7);
    EXPECT_EQ(names[0], "525 59.94 (480i)");
    EXPECT_EQ(names[27], "4x1920x1080p_25.00");
    EXPECT_EQ(names[30], "4x2048x1080p 25.00");

    // The active name: true, and no SDK call at all.
    board().clearCalls();
    EXPECT_TRUE(raster.setRasterFormat("1080p 60.00 3Ga (HDMI, SDI-3Ga)"));
    EXPECT_TRUE(board().calls().empty());
    // Unknown names and near misses change nothing.
    for (const char *name : {"4x1920x1080p 25.00", "720p 59.94 ", "default", ""})
        EXPECT_FALSE(raster.setRasterFormat(name)) << name;
    EXPECT_TRUE(board().calls().empty());
    EXPECT_EQ(raster.formatIndex(), 18);

    ASSERT_TRUE(raster.setRasterFormat("4x1920x1080p_25.00"));
    EXPECT_EQ(raster.formatIndex(), 27);
    EXPECT_EQ(board().videoFormat(), 85u);
    EXPECT_EQ(raster.width(), 3840);
    EXPECT_EQ(raster.height(), 2160);
    for (uint32_t c = 0; c < 4; ++c)
        EXPECT_EQ(board().frameBufferFormat(c), 0u);

    // Rows that share an NTV2 value are told apart by name.
    ASSERT_TRUE(raster.setRasterFormat("1080p 50.00 (SDI-3Gb)"));
    EXPECT_EQ(raster.formatIndex(), 19);
    EXPECT_EQ(raster.currentFormat(), "1080p 50.00 (SDI-3Gb)");
    board().clearCalls();
    EXPECT_TRUE(raster.setRasterFormat("1080p 50.00 (SDI-3Gb)"));
    EXPECT_TRUE(board().calls().empty());
    ASSERT_TRUE(raster.setRasterFormat("1080p 50.00 (SDI-DL)"));
    EXPECT_EQ(raster.formatIndex(), 13);
}

TEST(KonaRaster, PayloadIdentifierWords)
{
    konaAt(5, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    struct Case {
        const char *name;
        uint32_t a, b;
    };
    // 10-bit YCbCr: depth 0, sampling 0.
    const Case cases[] = {
        {"720p 59.94", 0x844A0000, 0},
        {"1080p 50.00 (SDI-3Gb)", 0x8A490000, 0x8A490040}, // payload 7 becomes 10 on level B
        {"1080p 59.94 (SDI-DL)", 0x874A0000, 0},
        {"1080p 60.00 3Ga (HDMI, SDI-3Ga)", 0x89CB0000, 0},
        {"4x1920x1080p 23.98", 0x85C20080, 0}, // quad: link word 2
        {"4x2048x1080p 25.00", 0x85C54080, 0},
        {"1080p2k 23.98 (SDI-DL)", 0x87C24000, 0},
        {"525 59.94 (480i)", 0x81060000, 0},
        {"1080i 50.00", 0x85050000, 0},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(raster.setRasterFormat(c.name)) << c.name;
        uint32_t a = 0, b = 0;
        board().vpid(a, b);
        EXPECT_EQ(a, c.a) << c.name;
        EXPECT_EQ(b, c.b) << c.name;
    }
    // The card pixel format's codes: 8-bit BGRA has depth 0, sampling 6.
    ASSERT_TRUE(raster.setRasterFormat("720p 59.94"));
    ASSERT_TRUE(raster.setOutputPixelFormat(0));
    uint32_t a = 0, b = 0;
    board().vpid(a, b);
    EXPECT_EQ(a, 0x844A0600u);

    // The lookup itself, where the raster's table cannot reach.
    KonaVpidWords quadB = konaVpidWords(89, kLink3GB, 1, 4);
    EXPECT_EQ(quadB.a, 0x8CC24401u);
    EXPECT_EQ(quadB.b, 0x8CC24441u);
    EXPECT_EQ(konaVpidWords(89, kLink3GA, 0, 0).a, 0x85C24000u);
    EXPECT_EQ(konaVpidWords(4, kLink3GB, 0, 0).a, 0x8B4A0000u);
    KonaVpidWords unmatched = konaVpidWords(77, kLinkSingle, 2, 6);
    EXPECT_FALSE(unmatched.matched);
    EXPECT_EQ(unmatched.a, 0x80000602u);
    EXPECT_EQ(unmatched.b, 0u);
}

TEST(KonaRaster, OutputPixelFormats)
{
    konaAt(4, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(raster.setOutputPixelFormat(7));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nKonaRaster::setOutputPixelFormat new pixel format is 9\n");
    EXPECT_EQ(raster.konaPixelFormat(), 9);
    EXPECT_EQ(raster.outputPixelFormat(), 11);
    for (uint32_t c = 0; c < 4; ++c)
        EXPECT_EQ(board().frameBufferFormat(c), 26u);
    EXPECT_FALSE(raster.render(0, false));
    EXPECT_FALSE(raster.render(0, true));

    struct Case {
        int32_t generic, kona;
        uint32_t fbf, rowBytes;
    };
    for (const Case &c : {Case{0, 0, 2, 5120}, Case{1, 5, 7, 5120}, Case{4, 6, 1, 2560}, Case{5, 8, 0, 3456},
                          Case{2, 9, 26, 1708}, Case{10, 9, 26, 1708}}) {
        testing::internal::CaptureStderr();
        raster.setOutputPixelFormat(c.generic);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(raster.konaPixelFormat(), c.kona) << c.generic;
        EXPECT_EQ(board().frameBufferFormat(NTV2_CHANNEL4), c.fbf) << c.generic;
        EXPECT_EQ(raster.rowBytes(), c.rowBytes) << c.generic;
        EXPECT_EQ(raster.render(0, false), c.kona != 9) << c.generic;
    }
}

TEST(KonaRaster, CardChangesUnderneathAreAdopted)
{
    konaAt(5, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    EXPECT_FALSE(raster.rerenderP());

    // The control panel switches the pixel format: rerenderP adopts it.
    board().setFrameBufferFormat(NTV2_CHANNEL1, 1);
    EXPECT_TRUE(raster.rerenderP());
    EXPECT_EQ(raster.konaPixelFormat(), 6);
    EXPECT_EQ(raster.rowBytes(), 2560u);
    EXPECT_FALSE(raster.rerenderP());

    // A video format change alone is left to currentFormat.
    board().setVideoFormat(33);
    EXPECT_FALSE(raster.rerenderP());
    EXPECT_EQ(raster.width(), 1280);
    EXPECT_EQ(raster.currentFormat(), "625 50.00 (576i)");
    EXPECT_EQ(raster.width(), 720);
    EXPECT_EQ(raster.height(), 576);
    EXPECT_EQ(raster.colourEncoding(), 0);

    // A format the table does not have keeps the row but takes the geometry.
    board().setVideoFormat(13);
    board().setVideoFormat(26);
    EXPECT_EQ(raster.currentFormat(), "1080p2k 25.00 (SDI-DL)");
    EXPECT_EQ(raster.width(), 2048);
    EXPECT_EQ(raster.colourEncoding(), 2);

    // A frame-buffer format outside the table: index 9, nothing rendered.
    board().setFrameBufferFormat(NTV2_CHANNEL1, 4);
    EXPECT_TRUE(raster.rerenderP());
    EXPECT_EQ(raster.konaPixelFormat(), 9);
    EXPECT_FALSE(raster.render(0, false));
}

TEST(KonaRaster, BuffersAndDma)
{
    konaAt(4, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    const uint8_t *first = raster.cardBuffer(0);
    ASSERT_NE(first, nullptr);
    // The same count at the same size keeps the memory.
    ASSERT_TRUE(raster.setBufferCount(1));
    EXPECT_EQ(raster.cardBuffer(0), first);
    EXPECT_FALSE(raster.setBufferCount(0));
    EXPECT_FALSE(raster.setBufferCount(-3));
    EXPECT_EQ(raster.bufferCount(), 1);
    EXPECT_EQ(raster.cardBuffer(1), nullptr);
    EXPECT_FALSE(raster.render(1, false));
    EXPECT_FALSE(raster.outputBuffer(1));
    EXPECT_FALSE(raster.outputBuffer(-1));

    ASSERT_TRUE(raster.setBufferCount(2));
    EXPECT_EQ(raster.currentBuffer(), 0);
    ASSERT_NE(raster.cardBuffer(1), nullptr);
    EXPECT_EQ(raster.cardBuffer(1) - raster.cardBuffer(0), 3456 * 720);

    // Each presented buffer goes to the frames channels 1 and 2 show.
    board().setOutputFrame(NTV2_CHANNEL1, 3);
    board().setOutputFrame(NTV2_CHANNEL2, 9);
    board().clearCalls();
    raster.fill(raster.pack(940, 64, 64));
    ASSERT_TRUE(raster.render(1, false));
    ASSERT_TRUE(raster.outputBuffer(1));
    EXPECT_EQ(board().calls(), (std::vector<std::string>{"GetOutputFrame(0)", "DMAWriteFrame(3,2488320)",
                                                         "GetOutputFrame(1)", "DMAWriteFrame(9,2488320)"}));
    std::vector<uint8_t> expected(raster.cardBuffer(1), raster.cardBuffer(1) + 3456 * 720);
    EXPECT_EQ(board().frameMemory(3), expected);
    EXPECT_EQ(board().frameMemory(9), expected);

    // Channel 2 is a bonus; channel 1 is the output.
    board().setOutputFrameFails(NTV2_CHANNEL2, true);
    EXPECT_TRUE(raster.outputBuffer(0));
    board().setOutputFrameFails(NTV2_CHANNEL1, true);
    EXPECT_FALSE(raster.outputBuffer(0));
}

TEST(KonaRaster, IdentityAndReservedSlot)
{
    konaAt(4, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    EXPECT_EQ(raster.gatewareVersion(), "1234");
    board().clearCalls();
    EXPECT_EQ(raster.serialNumber(), "SIM-KONA-0001");
    board().setSerialNumber("changed");
    EXPECT_EQ(raster.serialNumber(), "SIM-KONA-0001");
    EXPECT_EQ(board().calls(), (std::vector<std::string>{"GetSerialNumberString()"}));
    uint8_t x = 7, y = 9;
    EXPECT_FALSE(raster.reservedSlot26(x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    std::vector<uint8_t> edid;
    EXPECT_TRUE(raster.readEdid(edid));
    EXPECT_EQ(edid, (std::vector<uint8_t>{4, 3, 2, 1}));
}

// The board keeps what was DMA'd even though the raster packs the next
// frames into the same host memory, prepares other buffer counts and goes
// away: frame memory and output frame change only with the next DMA.
TEST(KonaRaster, PresentedFramesStayWhatWasSent)
{
    konaAt(4, 0);
    board().setOutputFrame(NTV2_CHANNEL1, 2);
    board().setOutputFrame(NTV2_CHANNEL2, 5);
    const size_t frameBytes = 3456 * 720;
    auto packed = [](KonaRaster &r) { return std::vector<uint8_t>(r.cardBuffer(0), r.cardBuffer(0) + 3456 * 720); };
    auto shown = [] {
        SimFrame f;
        EXPECT_TRUE(board().outputFrame(f));
        return f.bytes;
    };
    std::vector<uint8_t> sent;
    {
        KonaRaster raster;
        ASSERT_TRUE(raster.init());
        raster.fill(raster.pack(940, 64, 64));
        ASSERT_TRUE(raster.render(0, false));
        sent = packed(raster);
        ASSERT_TRUE(raster.outputBuffer(0));
        EXPECT_EQ(board().frameMemory(2), sent);
        EXPECT_EQ(shown(), sent);

        // Two more packs without a DMA: the second lands where the sent
        // frame was.
        const uint64_t levels[] = {raster.pack(64, 940, 64), raster.pack(64, 64, 940)};
        std::vector<uint8_t> last;
        for (uint64_t level : levels) {
            raster.fill(level);
            ASSERT_TRUE(raster.render(0, false));
            ASSERT_NE(packed(raster), sent);
            last = packed(raster);
            EXPECT_EQ(board().frameMemory(2), sent);
            EXPECT_EQ(board().frameMemory(5), sent);
            EXPECT_EQ(shown(), sent);
        }
        // Presented again unchanged, then the next frame.
        ASSERT_TRUE(raster.outputBuffer(0));
        EXPECT_EQ(shown(), last);
        raster.fill(raster.pack(512, 512, 512));
        ASSERT_TRUE(raster.render(0, false));
        EXPECT_EQ(shown(), last);
        ASSERT_TRUE(raster.outputBuffer(0));
        sent = packed(raster);
        EXPECT_EQ(shown(), sent);

        // Another buffer count reuses or replaces the host memory.
        ASSERT_TRUE(raster.setBufferCount(2));
        EXPECT_EQ(board().frameMemory(2), sent);
        ASSERT_TRUE(raster.setBufferCount(1));
        EXPECT_EQ(board().frameMemory(5), sent);
        EXPECT_EQ(shown(), sent);
        ASSERT_EQ(sent.size(), frameBytes);
    }
    // The raster and its memory are gone.
    EXPECT_EQ(board().frameMemory(2), sent);
    EXPECT_EQ(shown(), sent);
}

// A monitor reading the output while the render thread packs and presents
// sees whole frames, each one that was sent.
TEST(KonaRaster, MonitorSeesOnlySentFrames)
{
    konaAt(4, 0);
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    const uint64_t levels[] = {raster.pack(940, 64, 64), raster.pack(64, 940, 64), raster.pack(64, 64, 940)};
    std::vector<std::vector<uint8_t>> frames;
    for (uint64_t level : levels) {
        raster.fill(level);
        ASSERT_TRUE(raster.render(0, false));
        frames.emplace_back(raster.cardBuffer(0), raster.cardBuffer(0) + 3456 * 720);
    }
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0}, seen{0};
    std::thread monitor([&] {
        SimFrame f;
        while (!done) {
            if (!board().outputFrame(f) || f.bytes.empty())
                continue;
            ++seen;
            if (std::find(frames.begin(), frames.end(), f.bytes) == frames.end())
                ++wrong;
        }
    });
    for (int i = 0; i < 60; ++i) {
        raster.fill(levels[i % 3]);
        ASSERT_TRUE(raster.render(0, false));
        // Packed twice at times, so a pack lands on the frame last sent.
        if (i % 4 == 1) {
            ASSERT_TRUE(raster.render(0, false));
        }
        ASSERT_TRUE(raster.outputBuffer(0));
    }
    done = true;
    monitor.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(seen, 0);
}
