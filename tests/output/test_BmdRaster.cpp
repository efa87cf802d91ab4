#include "BmdOutput.h"
#include "BmdRaster.h"
#include "SimBoards.h"
#include "SimDeckLinkBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

SimDeckLinkBoard &board() { return SimDeckLinkBoard::instance(); }

int32_t indexOf(const std::vector<std::string> &names, const std::string &name)
{
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int32_t>(it - names.begin());
}

int countCalls(const std::string &prefix)
{
    int n = 0;
    for (const auto &call : board().calls())
        n += call.compare(0, prefix.size(), prefix) == 0;
    return n;
}

} // namespace

TEST(BmdRaster, InitAndItsFailures)
{
    {
        SimBoards::selectDeckLink();
        LogCapture log;
        testing::internal::CaptureStderr();
        BmdRaster raster;
        ASSERT_TRUE(raster.init());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("BmdRaster::init: creating deckLinkIterator\n"), std::string::npos);
        EXPECT_NE(err.find("deckLinkIterator: 0x"), std::string::npos);
        EXPECT_EQ(log.count("BmdRaster::init: (passive 1)\n"), 1);
        EXPECT_EQ(log.count("BmdOutput::buildModeList: defMode is Hp60\n"), 1);
        EXPECT_EQ(raster.outputPixelFormat(), 5);
        EXPECT_EQ(raster.colourEncoding(), 2);
        EXPECT_EQ(raster.blackLevel(), 64);
        EXPECT_EQ(raster.whiteLevel(), 940);
        EXPECT_EQ(raster.gatewareVersion(), "10.8.3");
        EXPECT_EQ(raster.serialNumber(), "serial number");
        // Passive: nothing is enabled by init.
        EXPECT_EQ(board().enabledMode(), 0u);
        EXPECT_EQ(board().callback(), raster.bmdOutput());
    }
    // The callback is unregistered when the raster goes.
    EXPECT_EQ(board().callback(), nullptr);

    struct Failure {
        const char *message;
        void (*arrange)();
    };
    const Failure failures[] = {
        {"This application requires the DeckLink drivers installed.\n", [] { SimBoards::selectNone(); }},
        {"No DeckLink PCI cards found\n", [] { board().setDeviceCount(0); }},
        {"Could not get the IDeckLinkOutput interface\n", [] { board().setInterfaces(false, true); }},
        {"Could not get the IDeckLinkConfiguration interface\n", [] { board().setInterfaces(true, false); }},
    };
    for (const Failure &f : failures) {
        SimBoards::selectDeckLink();
        f.arrange();
        LogCapture log;
        testing::internal::CaptureStderr();
        BmdRaster raster;
        EXPECT_FALSE(raster.init()) << f.message;
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(log.count(f.message), 1) << f.message;
        EXPECT_EQ(log.count("BmdRaster::init: error\n"), 1);
        EXPECT_EQ(raster.bmdOutput(), nullptr);
        EXPECT_FALSE(raster.render(0, false));
        EXPECT_FALSE(raster.setRasterFormat("HD 1080p 50"));
    }

    // A refused callback only logs.
    SimBoards::selectDeckLink();
    board().setCallbackRefused(true);
    LogCapture log;
    testing::internal::CaptureStderr();
    BmdRaster raster;
    EXPECT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.count("Couldn't set scheduled frame callback to this\n"), 1);
    SimBoards::selectNone();
}

TEST(BmdRaster, ModeListAndTheRenamedMode)
{
    SimBoards::selectDeckLink();
    testing::internal::CaptureStderr();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    std::vector<std::string> names;
    int32_t def = -1;
    ASSERT_TRUE(raster.getFormatList(names, def));
    ASSERT_EQ(names.size(), board().modes().size());
    EXPECT_EQ(names[static_cast<size_t>(def)], "HD 1080p 60");
    EXPECT_EQ(indexOf(names, "HD 720p 60"), -1);
    int32_t renamed = indexOf(names, "720p 59.94");
    ASSERT_GE(renamed, 0);
    EXPECT_EQ(board().modes()[static_cast<size_t>(renamed)].name, "HD 720p 60");
    EXPECT_GE(indexOf(names, "HD 720p 59.94"), 0); // the real 59.94 mode keeps its name

    LogCapture log;
    ASSERT_TRUE(raster.setRasterFormat("720p 59.94"));
    EXPECT_EQ(board().enabledMode(), bmdFourCC("hp60"));
    EXPECT_EQ(raster.currentFormat(), "720p 59.94");
    EXPECT_EQ(raster.width(), 1280);
    EXPECT_EQ(raster.height(), 720);
    EXPECT_EQ(raster.bmdOutput()->currentIndex, renamed);
    EXPECT_EQ(raster.bmdOutput()->frameDuration, 1000);
    EXPECT_EQ(raster.bmdOutput()->timescale, 60000);
    EXPECT_EQ(log.count("BmdRaster::setRasterFormat: new format is ("), 1);
    EXPECT_EQ(log.count("[HD 720p 60]\n"), 1);

    EXPECT_FALSE(raster.setRasterFormat("HD 720p 61"));
    EXPECT_FALSE(raster.setRasterFormat("hd 1080p 50"));
    EXPECT_EQ(raster.currentFormat(), "720p 59.94");
    EXPECT_EQ(log.count("new format is"), 1);

    // A mode the driver cannot name still gets an entry of its own.
    auto modes = board().modes();
    modes[1].name.clear();
    board().setModes(modes);
    BmdRaster second;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(second.init());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(second.getFormatList(names, def));
    EXPECT_EQ(names[1], "Mode pal ");
    EXPECT_TRUE(second.setRasterFormat("Mode pal "));
    SimBoards::selectNone();
}

TEST(BmdRaster, FormatChangesResetTheColourEncoding)
{
    SimBoards::selectDeckLink();
    testing::internal::CaptureStderr();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    struct Case {
        const char *name;
        int32_t height, encoding;
    };
    for (const Case &c : {Case{"PAL", 576, 0}, Case{"HD 1080p 25", 1080, 2}, Case{"NTSC", 486, 0},
                          Case{"4K DCI 25", 2160, 2}, Case{"2K 24", 1556, 2}}) {
        raster.setColourEncoding(4);
        ASSERT_TRUE(raster.setRasterFormat(c.name)) << c.name;
        EXPECT_EQ(raster.height(), c.height) << c.name;
        EXPECT_EQ(raster.colourEncoding(), c.encoding) << c.name;
    }

    // A failed enable keeps the mode index, takes the new size, and is
    // logged once with its own "new format" line.
    int32_t before = raster.bmdOutput()->currentIndex;
    board().setEnableFails(true);
    LogCapture log;
    EXPECT_FALSE(raster.setRasterFormat("HD 1080i 50"));
    EXPECT_EQ(raster.bmdOutput()->currentIndex, before);
    EXPECT_EQ(raster.height(), 1080);
    EXPECT_EQ(log.count("Failed to enable video output\n"), 1);
    EXPECT_EQ(log.count("new format is"), 1);
    board().setEnableFails(false);
    EXPECT_TRUE(raster.setRasterFormat("HD 1080i 50"));
    EXPECT_EQ(raster.currentFormat(), "HD 1080i 50");
    SimBoards::selectNone();
}

TEST(BmdRaster, PixelFormatsAndTheirFrames)
{
    SimBoards::selectDeckLink();
    testing::internal::CaptureStderr();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(raster.setRasterFormat("PAL"));

    struct Case {
        int32_t generic;
        const char *code;
        int32_t rowBytes;
    };
    for (const Case &c : {Case{0, "\x00\x00\x00\x20", 2880}, Case{1, "r210", 3072}, Case{4, "2vuy", 1440},
                          Case{5, "v210", 1920}}) {
        board().clearCalls();
        bool changed = raster.setOutputPixelFormat(c.generic);
        EXPECT_EQ(raster.bmdOutput()->rowBytes, c.rowBytes) << c.generic;
        EXPECT_NE(raster.bmdOutput()->frame, nullptr);
        EXPECT_EQ(countCalls("CreateVideoFrame(720,576," + std::to_string(c.rowBytes) + ","), 1) << c.generic;
        // The same value again: false, but the frame is still recreated.
        board().clearCalls();
        EXPECT_FALSE(raster.setOutputPixelFormat(c.generic));
        EXPECT_EQ(countCalls("CreateVideoFrame("), 1);
        EXPECT_TRUE(changed || c.generic == 0) << c.generic;
    }

    // r210 rows start every device row (3072 bytes at 720 pixels), not
    // every 4 * 720 bytes.
    ASSERT_TRUE(raster.setOutputPixelFormat(1));
    raster.fill(0);
    raster.setPixelRgb(0, 1, 1023, 0, 0);
    raster.setPixelRgb(719, 1, 0, 0, 1023);
    ASSERT_TRUE(raster.render(0, false));
    const uint8_t *staging = raster.stagingBuffer(0);
    ASSERT_NE(staging, nullptr);
    const uint8_t red[4] = {0xFF, 0xF0, 0x00, 0x00}, blue[4] = {0xC0, 0x00, 0x03, 0xFF}, black[4] = {0xC0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(staging + 3072, red, 4), 0);
    EXPECT_EQ(std::memcmp(staging + 3072 + 719 * 4, blue, 4), 0);
    const uint8_t zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(staging + 2880, zero, 4), 0) << "the padding of row 0 stays as allocated";
    EXPECT_EQ(std::memcmp(staging + 2876, black, 4), 0);

    // No packing for the others: no frame, nothing rendered, nothing shown.
    LogCapture log;
    EXPECT_TRUE(raster.setOutputPixelFormat(7));
    EXPECT_EQ(log.count("BmdRaster::resize: pixel format 7 not handled, expect problems\n"), 1);
    EXPECT_EQ(log.count("Couldn't Create VideoFrame\n"), 1);
    EXPECT_EQ(raster.bmdOutput()->frame, nullptr);
    EXPECT_FALSE(raster.render(0, false));
    EXPECT_FALSE(raster.present(-1) && raster.outputBuffer(0));

    // Support is asked of the current mode, in the order 2vuy, v210, 32, r210.
    board().setModeSupport(bmdFourCC("pal "), {bmdFormat8BitYUV, bmdFormat8BitARGB});
    board().clearCalls();
    EXPECT_EQ(raster.supportedPixelFormats(), 0x11u);
    EXPECT_EQ(board().calls(), (std::vector<std::string>{"DoesSupportVideoMode(pal ,2vuy)", "DoesSupportVideoMode(pal ,v210)",
                                                         "DoesSupportVideoMode(pal ,\?\?\? )",
                                                         "DoesSupportVideoMode(pal ,r210)"}));
    board().setModeSupport(bmdFourCC("pal "), {bmdFormat10BitYUV, bmdFormat10BitRGB, bmdFormat8BitBGRA});
    EXPECT_EQ(raster.supportedPixelFormats(), 0x22u);
    SimBoards::selectNone();
}

TEST(BmdRaster, DefaultModeFollowsTheDriver)
{
    SimBoards::selectDeckLink();
    board().setDefaultMode(bmdFourCC("ntsc")); // index 0
    testing::internal::CaptureStderr();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    std::vector<std::string> names;
    int32_t def = -1;
    raster.getFormatList(names, def);
    EXPECT_EQ(def, 0);
    EXPECT_EQ(board().enabledMode(), 0u) << "init enables nothing";
    EXPECT_FALSE(raster.render(0, false));

    // A default at index 0 is adopted like any other: nothing was enabled.
    LogCapture log;
    EXPECT_TRUE(raster.rerenderP());
    EXPECT_EQ(log.count("BmdRaster::rerenderP: newDefMode is ntsc\n"), 1);
    EXPECT_EQ(board().enabledMode(), bmdFourCC("ntsc"));
    EXPECT_EQ(raster.currentFormat(), "NTSC");
    EXPECT_EQ(raster.height(), 486);
    EXPECT_NE(raster.bmdOutput()->frame, nullptr);
    EXPECT_FALSE(raster.rerenderP()) << "an unchanged default is not adopted again";

    // A selection stays, however often the unchanged default is read.
    ASSERT_TRUE(raster.setRasterFormat("PAL"));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(raster.rerenderP()) << i;
    EXPECT_EQ(board().enabledMode(), bmdFourCC("pal "));
    EXPECT_EQ(raster.currentFormat(), "PAL");

    // The driver's control panel picks another default: it is selected.
    board().setDefaultMode(bmdFourCC("Hp50"));
    EXPECT_TRUE(raster.rerenderP());
    EXPECT_EQ(board().enabledMode(), bmdFourCC("Hp50"));
    EXPECT_EQ(raster.currentFormat(), "HD 1080p 50");
    EXPECT_EQ(raster.height(), 1080);
    EXPECT_FALSE(raster.rerenderP());
    // Back to a default that is already on the output: nothing to do.
    ASSERT_TRUE(raster.setRasterFormat("PAL"));
    board().setDefaultMode(bmdFourCC("pal "));
    EXPECT_FALSE(raster.rerenderP());
    EXPECT_EQ(raster.currentFormat(), "PAL");

    board().setDefaultModeReadFails(true);
    log.clear();
    EXPECT_FALSE(raster.rerenderP());
    EXPECT_EQ(log.count("BmdRaster::rerenderP: getDefMode failed (wtf)\n"), 1);
    SimBoards::selectNone();
}

namespace {

// A raster whose image allocation can be made to fail.
class StarvedBmdRaster : public BmdRaster {
public:
    bool starved = false;

protected:
    bool resizeImage(int32_t width, int32_t height) override
    {
        return !starved && BmdRaster::resizeImage(width, height);
    }
};

} // namespace

TEST(BmdRaster, FailedImageAllocationLeavesNoFrameOfAnotherSize)
{
    SimBoards::selectDeckLink();
    testing::internal::CaptureStderr();
    StarvedBmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(raster.setRasterFormat("HD 1080p 25"));
    raster.fill(raster.pack(940, 940, 940));
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.present(-1));

    // Shrinking to 576 lines: the frame is made, the image is not.
    LogCapture log;
    raster.starved = true;
    EXPECT_TRUE(raster.setRasterFormat("PAL")) << "the mode itself is enabled";
    EXPECT_EQ(board().enabledMode(), bmdFourCC("pal "));
    EXPECT_EQ(raster.height(), 1080) << "the image keeps its size";
    EXPECT_EQ(raster.bmdOutput()->frame, nullptr) << "and no frame of 576 lines stays with it";
    EXPECT_EQ(raster.bmdOutput()->frameBytes, nullptr);
    EXPECT_EQ(log.count("BmdRaster::resize: no memory for a 720x576 image\n"), 1);
    // Nothing is packed or copied until a resize succeeds.
    EXPECT_FALSE(raster.render(0, false));
    raster.present(-1);
    EXPECT_FALSE(raster.outputBuffer(0));
    EXPECT_EQ(board().sequence(), 1u);

    raster.starved = false;
    ASSERT_TRUE(raster.setRasterFormat("HD 1080p 25"));
    ASSERT_TRUE(raster.setRasterFormat("PAL"));
    EXPECT_EQ(raster.height(), 576);
    raster.fill(raster.pack(64, 64, 64));
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.present(-1));
    SimFrame frame;
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_EQ(frame.height, 576);
    EXPECT_EQ(frame.bytes.size(), static_cast<size_t>(frame.rowBytes) * 576);
    SimBoards::selectNone();
}

TEST(BmdRaster, StagingBuffersAndTheCallback)
{
    SimBoards::selectDeckLink();
    testing::internal::CaptureStderr();
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(raster.setRasterFormat("HD 720p 50"));
    BmdOutput *out = raster.bmdOutput();

    // Staging starts zeroed, so a buffer nobody packed shows black bytes.
    ASSERT_TRUE(raster.setBufferCount(2));
    EXPECT_EQ(raster.bufferCount(), 2);
    ASSERT_TRUE(raster.outputBuffer(1));
    SimFrame frame;
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_TRUE(std::all_of(frame.bytes.begin(), frame.bytes.end(), [](uint8_t b) { return b == 0; }));
    const uint8_t *staging = raster.stagingBuffer(0);
    ASSERT_TRUE(raster.setBufferCount(2));
    EXPECT_EQ(raster.stagingBuffer(0), staging);
    EXPECT_EQ(raster.stagingBuffer(2), nullptr);
    EXPECT_FALSE(raster.render(2, false));
    EXPECT_FALSE(raster.outputBuffer(2));

    // The callback re-schedules the one frame and counts it.
    void *object = &frame;
    EXPECT_EQ(out->QueryInterface(IID_IUnknown, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(out->AddRef(), 1u);
    EXPECT_EQ(out->Release(), 1u);
    board().clearCalls();
    EXPECT_EQ(out->ScheduledFrameCompleted(out->frame, bmdOutputFrameCompleted), S_OK);
    EXPECT_EQ(out->ScheduledFrameCompleted(out->frame, bmdOutputFrameCompleted), S_OK);
    EXPECT_EQ(out->scheduledCount, 2);
    EXPECT_EQ(board().calls(), (std::vector<std::string>{"ScheduleVideoFrame(0,1000,50000)",
                                                         "ScheduleVideoFrame(1000,1000,50000)"}));
    EXPECT_EQ(out->ScheduledPlaybackHasStopped(), S_OK);
    SimBoards::selectNone();
}
