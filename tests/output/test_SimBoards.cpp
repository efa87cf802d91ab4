#include "CNTV2Card.h"
#include "DeckLinkAPI.h"
#include "SimBoards.h"
#include "SimDeckLinkBoard.h"
#include "SimKonaBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

IDeckLinkOutput *openDeckLinkOutput(IDeckLink *&device)
{
    IDeckLinkIterator *iterator = nullptr;
    if (CoCreateInstance(CLSID_CDeckLinkIterator, nullptr, CLSCTX_ALL, IID_IDeckLinkIterator,
                         reinterpret_cast<LPVOID *>(&iterator)) != S_OK)
        return nullptr;
    device = nullptr;
    iterator->Next(&device);
    iterator->Release();
    IDeckLinkOutput *output = nullptr;
    if (device)
        device->QueryInterface(IID_IDeckLinkOutput, reinterpret_cast<LPVOID *>(&output));
    return output;
}

} // namespace

TEST(SimBoards, AbsentUntilSelected)
{
    SimBoards::selectNone();
    CNTV2Card card;
    EXPECT_FALSE(card.Open(0));
    IDeckLinkIterator *iterator = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_CDeckLinkIterator, nullptr, CLSCTX_ALL, IID_IDeckLinkIterator,
                               reinterpret_cast<LPVOID *>(&iterator)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(iterator, nullptr);

    EXPECT_TRUE(SimBoards::select("kona"));
    EXPECT_EQ(SimBoards::selected(), SimBoards::Board::kona);
    EXPECT_TRUE(SimKonaBoard::instance().present());
    EXPECT_FALSE(SimDeckLinkBoard::instance().present());
    EXPECT_TRUE(SimBoards::select("decklink"));
    EXPECT_FALSE(SimKonaBoard::instance().present());
    EXPECT_TRUE(SimDeckLinkBoard::instance().present());
    EXPECT_FALSE(SimBoards::select("bluefish"));
    EXPECT_EQ(SimBoards::selected(), SimBoards::Board::deckLink);
    SimBoards::selectNone();
}

TEST(SimBoards, KonaStartingStateAndEnvironment)
{
    {
        ScopedEnv env("ORVANE_SIM_KONA", nullptr);
        SimBoards::selectKona();
        auto &board = SimKonaBoard::instance();
        EXPECT_EQ(board.videoFormat(), 25u);
        for (uint32_t c = 0; c < SimKonaBoard::kChannels; ++c)
            EXPECT_EQ(board.frameBufferFormat(c), 0u);
    }
    {
        ScopedEnv env("ORVANE_SIM_KONA", "videoformat=2,fbf=7");
        SimBoards::selectKona();
        EXPECT_EQ(SimKonaBoard::instance().videoFormat(), 2u);
        EXPECT_EQ(SimKonaBoard::instance().frameBufferFormat(3), 7u);
    }
    {
        // Unknown formats and junk leave the starting state.
        ScopedEnv env("ORVANE_SIM_KONA", "videoformat=999,fbf=7x,colour=1");
        SimBoards::selectKona();
        EXPECT_EQ(SimKonaBoard::instance().videoFormat(), 25u);
        EXPECT_EQ(SimKonaBoard::instance().frameBufferFormat(0), 0u);
    }
    {
        ScopedEnv env("ORVANE_SIM_DECKLINK", "mode=hp60");
        SimBoards::selectDeckLink();
        EXPECT_EQ(SimDeckLinkBoard::instance().defaultMode(), bmdFourCC("hp60"));
    }
    {
        ScopedEnv env("ORVANE_SIM_DECKLINK", "mode=zz99");
        SimBoards::selectDeckLink();
        EXPECT_EQ(SimDeckLinkBoard::instance().defaultMode(), bmdFourCC("Hp60"));
    }
    SimBoards::selectNone();
}

TEST(SimBoards, KonaGeometryAndRowBytes)
{
    struct Case {
        uint32_t videoFormat, width, height;
    };
    // Every NTV2 format of the format table, the four-quadrant 4K ones included.
    const Case cases[] = {{32, 720, 486},   {33, 720, 576},   {1, 1920, 1080},  {2, 1920, 1080}, {3, 1920, 1080},
                          {17, 1280, 720},  {4, 1280, 720},   {5, 1280, 720},   {11, 1920, 1080}, {12, 1920, 1080},
                          {10, 1920, 1080}, {8, 1920, 1080},  {9, 1920, 1080},  {18, 1920, 1080}, {19, 1920, 1080},
                          {20, 1920, 1080}, {23, 1920, 1080}, {24, 1920, 1080}, {25, 1920, 1080}, {13, 2048, 1080},
                          {14, 2048, 1080}, {26, 2048, 1080}, {83, 3840, 2160}, {84, 3840, 2160}, {85, 3840, 2160},
                          {89, 4096, 2160}, {90, 4096, 2160}, {91, 4096, 2160}};
    for (const Case &c : cases) {
        auto g = static_cast<NTV2FrameGeometry>(SimKonaBoard::geometryOf(c.videoFormat));
        EXPECT_EQ(GetNTV2FrameGeometryWidth(g), c.width) << c.videoFormat;
        EXPECT_EQ(GetNTV2FrameGeometryHeight(g), c.height) << c.videoFormat;
    }
    EXPECT_EQ(SimKonaBoard::geometryOf(0), 0xFFu);
    auto rb = [](uint32_t fbf, uint32_t w) { return AJA_CalcRowBytesForFormat(static_cast<AJA_PixelFormat>(fbf + 1), w); };
    EXPECT_EQ(rb(0, 1280), 3456u); // 27 groups of 48
    EXPECT_EQ(rb(0, 1920), 5120u);
    EXPECT_EQ(rb(0, 720), 1920u);
    EXPECT_EQ(rb(1, 1920), 3840u);
    EXPECT_EQ(rb(2, 1920), 7680u);
    EXPECT_EQ(rb(7, 4096), 16384u);
    EXPECT_EQ(rb(12, 1280), 3840u);
    EXPECT_EQ(AJA_CalcRowBytesForFormat(AJA_PixelFormat_Unknown, 1920), 0u);
}

TEST(SimBoards, KonaCardLogsCallsAndRefusesWhenClosed)
{
    SimBoards::selectKona();
    auto &board = SimKonaBoard::instance();
    CNTV2Card card;
    NTV2VideoFormat vf{};
    EXPECT_FALSE(card.GetVideoFormat(vf));
    EXPECT_FALSE(card.SetVideoFormat(static_cast<NTV2VideoFormat>(4)));
    EXPECT_EQ(board.videoFormat(), 25u); // a closed card changes nothing
    ASSERT_TRUE(card.Open(0));
    board.clearCalls();
    EXPECT_TRUE(card.SetVideoFormat(static_cast<NTV2VideoFormat>(4), false, false, NTV2_CHANNEL1));
    EXPECT_FALSE(card.SetVideoFormat(static_cast<NTV2VideoFormat>(77)));
    EXPECT_FALSE(card.SetFrameBufferFormat(NTV2_CHANNEL1, static_cast<NTV2FrameBufferFormat>(99)));
    EXPECT_TRUE(card.SetSDIOutVPID(0x844A0000, 0));
    EXPECT_EQ(board.calls(), (std::vector<std::string>{"SetVideoFormat(4)", "SetVideoFormat(77)",
                                                       "SetFrameBufferFormat(0,99)",
                                                       "SetSDIOutVPID(0x844A0000,0x00000000,0)"}));
    EXPECT_EQ(board.videoFormat(), 4u);
    uint32_t a = 0, b = 1;
    board.vpid(a, b);
    EXPECT_EQ(a, 0x844A0000u);
    EXPECT_EQ(b, 0u);

    // DMA bounds: frame numbers and sizes beyond the card's memory fail.
    std::vector<ULWord> words(16, 0x01020304);
    EXPECT_FALSE(card.DMAWriteFrame(SimKonaBoard::kFrames, words.data(), 64));
    EXPECT_FALSE(card.DMAWriteFrame(0, nullptr, 64));
    EXPECT_FALSE(card.DMAWriteFrame(0, words.data(), SimKonaBoard::kFrameCapacity + 1));
    EXPECT_TRUE(card.DMAWriteFrame(5, words.data(), 64));
    EXPECT_EQ(board.frameMemory(5).size(), 64u);
    EXPECT_EQ(board.sequence(), 0u); // frame 5 is not on the output
    SimBoards::selectNone();
}

TEST(SimBoards, CaptureFilesFollowEveryOutputFrame)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    ScopedEnv capture("ORVANE_SIM_CAPTURE", folder.path().c_str());
    ScopedEnv env("ORVANE_SIM_KONA", "videoformat=4,fbf=0");
    SimBoards::selectKona();
    CNTV2Card card;
    ASSERT_TRUE(card.Open(0));
    ULWord frame = 99;
    ASSERT_TRUE(card.GetOutputFrame(NTV2_CHANNEL1, frame));
    std::vector<ULWord> words(3456 * 720 / 4, 0xA5A5A5A5);
    ASSERT_TRUE(card.DMAWriteFrame(frame, words.data(), 3456 * 720));
    words.assign(words.size(), 0x5A5A5A5A);
    ASSERT_TRUE(card.DMAWriteFrame(frame, words.data(), 3456 * 720));

    std::string raw = readFile(folder.path() + "/kona-out.raw");
    ASSERT_EQ(raw.size(), 3456u * 720u);
    EXPECT_EQ(static_cast<uint8_t>(raw[0]), 0x5A);
    EXPECT_EQ(readFile(folder.path() + "/kona-out.json"),
              "{\"width\": 1280, \"height\": 720, \"rowBytes\": 3456, \"layout\": \"v210\", "
              "\"videoFormat\": \"720p 59.94\", \"sequence\": 2, \"sdiVpid\": [], \"signal\": {\"eotf\": \"SDR\", "
              "\"colorimetry\": \"BT.709\", \"range\": \"narrow\", \"bitDepth\": 10}, \"hdrMetadata\": "
              "{\"present\": false}, \"hdmiInfoframe\": null}\n");
    // No temporary file stays behind.
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder.path()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2);

    SimFrame out;
    ASSERT_TRUE(SimBoards::outputFrame(out));
    EXPECT_EQ(out.sequence, 2u);
    EXPECT_EQ(out.bytes.size(), 3456u * 720u);
    SimBoards::selectNone();
    EXPECT_FALSE(SimBoards::outputFrame(out));
}

TEST(SimBoards, CaptureWriteFailuresAreLoggedOnceEach)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string missing = folder.path() + "/gone";
    ScopedEnv capture("ORVANE_SIM_CAPTURE", missing.c_str());
    ScopedEnv env("ORVANE_SIM_KONA", "videoformat=4,fbf=0");
    LogCapture log;
    SimBoards::selectKona();
    CNTV2Card card;
    ASSERT_TRUE(card.Open(0));
    ULWord frame = 99;
    ASSERT_TRUE(card.GetOutputFrame(NTV2_CHANNEL1, frame));
    std::vector<ULWord> words(3456 * 720 / 4, 0x11111111);
    auto output = [&](int frames) {
        for (int i = 0; i < frames; ++i)
            ASSERT_TRUE(card.DMAWriteFrame(frame, words.data(), 3456 * 720));
    };

    // The folder is missing: said once, not once per frame.
    output(5);
    // (The reason is the system's text, in the user's language.)
    EXPECT_EQ(log.count("Warning: kona: cannot write the capture of frame 1: " + missing + "/kona-out.raw.tmp: "), 1)
        << log.text();
    EXPECT_EQ(log.count("cannot write the capture"), 1);

    // Once it exists, frames are written again.
    std::filesystem::create_directory(missing);
    output(1);
    EXPECT_NE(readFile(missing + "/kona-out.json").find("\"sequence\": 6"), std::string::npos);
    EXPECT_EQ(log.count("cannot write the capture"), 1);

    // A new failure after a success is said again: here the frame's name is
    // taken by a folder, so the rename fails.
    std::filesystem::remove(missing + "/kona-out.raw");
    std::filesystem::create_directory(missing + "/kona-out.raw");
    std::filesystem::create_directory(missing + "/kona-out.raw/keep");
    output(3);
    EXPECT_EQ(log.count("cannot write the capture"), 2) << log.text();
    EXPECT_EQ(log.count("Warning: kona: cannot write the capture of frame 7: " + missing + "/kona-out.raw: "), 1)
        << log.text();
    // No temporary file stays behind.
    EXPECT_FALSE(std::filesystem::exists(missing + "/kona-out.raw.tmp"));

    // The DeckLink board says it the same way.
    SimBoards::selectNone();
    log.clear();
    SimBoards::selectDeckLink();
    SimDeckLinkBoard &bmd = SimDeckLinkBoard::instance();
    bmd.setCaptureFolder(folder.path() + "/also-gone");
    ASSERT_EQ(bmd.enable(bmdFourCC("pal "), 0), S_OK);
    std::vector<uint8_t> bytes(1920 * 576, 0x40);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(bmd.display(720, 576, 1920, bmdFormat10BitYUV, bytes.data()), S_OK);
    EXPECT_EQ(log.count("Warning: decklink: cannot write the capture of frame 1: " + folder.path() +
                        "/also-gone/decklink-out.raw.tmp: "),
              1)
        << log.text();
    EXPECT_EQ(log.count("cannot write the capture"), 1);
    SimBoards::selectNone();
}

TEST(SimBoards, KonaNamesTheLevelBFormatFromItsPayload)
{
    SimBoards::selectKona();
    CNTV2Card card;
    ASSERT_TRUE(card.Open(0));
    card.SetVideoFormat(static_cast<NTV2VideoFormat>(18));
    std::vector<ULWord> words(16, 0);
    card.SetSDIOutVPID(0x87C90000, 0);
    card.DMAWriteFrame(0, words.data(), 64);
    SimFrame out;
    ASSERT_TRUE(SimKonaBoard::instance().outputFrame(out));
    EXPECT_EQ(out.videoFormat, "1080p 50.00 (SDI-DL)");
    card.SetSDIOutVPID(0x8AC90000, 0x8AC90040);
    card.DMAWriteFrame(0, words.data(), 64);
    ASSERT_TRUE(SimKonaBoard::instance().outputFrame(out));
    EXPECT_EQ(out.videoFormat, "1080p 50.00 (SDI-3Gb)");
    SimBoards::selectNone();
}

TEST(SimBoards, DeckLinkDriverObjects)
{
    SimBoards::selectDeckLink();
    auto &board = SimDeckLinkBoard::instance();
    IDeckLink *device = nullptr;
    IDeckLinkOutput *output = openDeckLinkOutput(device);
    ASSERT_NE(output, nullptr);

    // The realistic list has the mode the generator renames, and 4K.
    bool have720p60 = false, have4k = false;
    IDeckLinkDisplayModeIterator *modes = nullptr;
    ASSERT_EQ(output->GetDisplayModeIterator(&modes), S_OK);
    IDeckLinkDisplayMode *mode = nullptr;
    while (modes->Next(&mode) == S_OK) {
        BSTR name = nullptr;
        ASSERT_EQ(mode->GetName(&name), S_OK);
        std::wstring text = name;
        SysFreeString(name);
        if (text == L"HD 720p 60") {
            have720p60 = true;
            EXPECT_EQ(mode->GetDisplayMode(), bmdFourCC("hp60"));
            BMDTimeValue d = 0;
            BMDTimeScale s = 0;
            EXPECT_EQ(mode->GetFrameRate(&d, &s), S_OK);
            EXPECT_EQ(d, 1000);
            EXPECT_EQ(s, 60000);
        }
        have4k |= mode->GetWidth() == 4096 && mode->GetHeight() == 2160;
        mode->Release();
    }
    modes->Release();
    EXPECT_TRUE(have720p60);
    EXPECT_TRUE(have4k);

    // Frames only reach an enabled output of their own size.
    IDeckLinkMutableVideoFrame *frame = nullptr;
    EXPECT_NE(output->CreateVideoFrame(1280, 720, 100, bmdFormat10BitYUV, 0, &frame), S_OK);
    ASSERT_EQ(output->CreateVideoFrame(1280, 720, 3456, bmdFormat10BitYUV, 0, &frame), S_OK);
    EXPECT_EQ(output->DisplayVideoFrameSync(frame), E_ACCESSDENIED);
    ASSERT_EQ(output->EnableVideoOutput(bmdFourCC("Hp60"), 0), S_OK);
    EXPECT_EQ(output->DisplayVideoFrameSync(frame), E_INVALIDARG);
    output->DisableVideoOutput();
    ASSERT_EQ(output->EnableVideoOutput(bmdFourCC("hp60"), 0), S_OK);
    EXPECT_EQ(output->EnableVideoOutput(bmdFourCC("hp50"), 0), E_ACCESSDENIED);
    EXPECT_EQ(output->DisplayVideoFrameSync(frame), S_OK);
    SimFrame out;
    ASSERT_TRUE(SimBoards::outputFrame(out));
    EXPECT_EQ(out.videoFormat, "720p 59.94");
    EXPECT_EQ(out.layout, "v210");
    EXPECT_EQ(out.rowBytes, 3456u);

    ASSERT_TRUE(board.setModeSupport(bmdFourCC("hp60"), {bmdFormat8BitYUV}));
    BMDDisplayModeSupport support = 7;
    EXPECT_EQ(output->DoesSupportVideoMode(bmdFourCC("hp60"), bmdFormat10BitYUV, 0, &support, nullptr), S_OK);
    EXPECT_EQ(support, bmdDisplayModeNotSupported);
    EXPECT_EQ(output->DoesSupportVideoMode(bmdFourCC("hp60"), bmdFormat8BitYUV, 0, &support, nullptr), S_OK);
    EXPECT_EQ(support, bmdDisplayModeSupported);

    void *unknown = &support;
    EXPECT_EQ(output->QueryInterface(IID_IDeckLinkConfiguration, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    frame->Release();
    output->Release();
    device->Release();
    SimBoards::selectNone();
}

TEST(SimBoards, MonitorReadsWholeFramesWhileTheRenderThreadWrites)
{
    SimBoards::selectKona();
    CNTV2Card card;
    ASSERT_TRUE(card.Open(0));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, seen{0};
    std::thread monitor([&] {
        SimFrame frame;
        while (!done) {
            if (!SimBoards::outputFrame(frame))
                continue;
            ++seen;
            // Every write fills the frame with one byte value.
            for (uint8_t b : frame.bytes)
                if (b != frame.bytes[0]) {
                    ++torn;
                    break;
                }
        }
    });
    std::vector<ULWord> words(64 * 1024);
    for (int i = 0; i < 200; ++i) {
        words.assign(words.size(), 0x01010101u * static_cast<uint32_t>(i & 0xFF));
        ASSERT_TRUE(card.DMAWriteFrame(0, words.data(), static_cast<ULWord>(words.size() * 4)));
    }
    done = true;
    monitor.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(SimKonaBoard::instance().sequence(), 200u);
    SimBoards::selectNone();
}
