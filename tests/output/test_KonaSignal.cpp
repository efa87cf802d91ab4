// What the Kona back-end says about the signal: payload identifier words on
// the SDI outputs, the HDMI HDR infoframe, and the board's description.
#include "CNTV2Card.h"
#include "KonaRaster.h"
#include "KonaTables.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

SimKonaBoard &board() { return SimKonaBoard::instance(); }

// ST 352 word from its four bytes.
constexpr uint32_t word(uint32_t b1, uint32_t b2, uint32_t b3, uint32_t b4)
{
    return b1 << 24 | b2 << 16 | b3 << 8 | b4;
}

// Byte 2: transfer characteristic in bits 5-4 (0 SDR-TV, 1 HLG, 2 PQ).
// Byte 3: colorimetry in bits 5-4 (0 Rec.709, 2 UHDTV), 16:9 in bit 7.
// Byte 4: 10-bit depth code 1. The base words carry the rate and scan bits:
// 1080p level A 59.94 (0x89, 0xCA), 2160p 12G 59.94 (0xCE, 0xCA).
constexpr uint32_t kTc[3] = {0 << 4, 2 << 4, 1 << 4}; // by QiEotf: SDR, PQ, HLG
constexpr uint32_t kCol[2] = {0 << 4, 2 << 4};        // by QiColorimetry

bool hasCall(const std::string &prefix)
{
    auto calls = board().calls();
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::string &c) { return c.compare(0, prefix.size(), prefix) == 0; });
}

} // namespace

TEST(KonaSignal, WorkedPayloadWordsForEveryTransferAndColorimetry)
{
    // The published words at 59.94p, 16:9, 4:2:2 10-bit.
    EXPECT_EQ(konaSignalWord(0x89CA0000, 0, 0, 1, true), 0x89CA8001u);
    EXPECT_EQ(konaSignalWord(0x89CA0000, 1, 2, 1, true), 0x89DAA001u);
    EXPECT_EQ(konaSignalWord(0x89CA0000, 2, 2, 1, true), 0x89EAA001u);
    EXPECT_EQ(konaSignalWord(0xCECA0000, 0, 0, 1, true), 0xCECA8001u);
    EXPECT_EQ(konaSignalWord(0xCECA0000, 1, 2, 1, true), 0xCEDAA001u);
    EXPECT_EQ(konaSignalWord(0xCECA0000, 2, 2, 1, true), 0xCEEAA001u);

    // Through the back-end, on 1080p 59.94 level A (NTV2 24) in v210, for
    // SDR, PQ and HLG with each colorimetry: both SDI outputs get the word.
    for (int32_t eotf : {kEotfSdr, kEotfPq, kEotfHlg}) {
        for (int32_t col : {kColorimetry709, kColorimetry2020}) {
            konaAt(24, 0);
            KonaRaster raster;
            ASSERT_TRUE(raster.init());
            raster.setSignal(describedSignal(eotf, col));
            ASSERT_TRUE(raster.render(0, false));
            ASSERT_TRUE(raster.outputBuffer(0));
            const uint32_t want = word(0x89, 0xCA | kTc[eotf], 0x80 | kCol[col], 0x01);
            for (uint32_t spigot : {0u, 1u}) {
                uint32_t a = 0, b = 1;
                ASSERT_TRUE(board().vpidOf(spigot, a, b)) << spigot;
                EXPECT_EQ(a, want) << std::hex << "eotf " << eotf << " col " << col << " output " << spigot;
                EXPECT_EQ(b, 0u);
            }
            EXPECT_EQ(board().vpidField(SimKonaBoard::kVpidTransfer, 1), qiVpidTransfer(eotf));
            EXPECT_EQ(board().vpidField(SimKonaBoard::kVpidColorimetry, 1), col == kColorimetry2020 ? 2u : 0u);
            SimFrame frame;
            ASSERT_TRUE(board().outputFrame(frame));
            EXPECT_EQ(frame.signal.eotf, eotf);
            EXPECT_EQ(frame.signal.colorimetry, col);
            EXPECT_EQ(frame.signal.bitDepth, 10);
            EXPECT_FALSE(frame.signal.fullRange);
        }
    }
    // 8-bit frame buffers travel as 10-bit words; RGB as 4:4:4 GBR (byte 3
    // sampling 2), full range with depth code 0.
    konaAt(24, 2); // ARGB
    KonaRaster rgb;
    ASSERT_TRUE(rgb.init());
    QiSignal full = describedSignal(kEotfPq, kColorimetry2020);
    full.fullRange = true;
    rgb.setSignal(full);
    ASSERT_TRUE(rgb.render(0, false));
    ASSERT_TRUE(rgb.outputBuffer(0));
    uint32_t a = 0, b = 0;
    ASSERT_TRUE(board().vpidOf(0, a, b));
    EXPECT_EQ(a, word(0x89, 0xEA, 0xA2, 0x00));
    EXPECT_EQ(board().vpidField(SimKonaBoard::kVpidRgbRange, 0), 1u);
}

TEST(KonaSignal, SplitColorimetryStandards)
{
    // 1080-line HD single link (0x85), dual link (0x87) and 3G level B dual
    // stream (0x8A) keep colorimetry in byte 3 bit 7 (MSB) and bit 4 (LSB),
    // with 16:9 in bit 5.
    struct Case {
        uint32_t ntv2, row;
        uint32_t byte1, byte2;
        bool secondLink;
    } cases[] = {
        {2, 3, 0x85, 0x06, false},  // 1080i 59.94
        {18, 13, 0x87, 0x49, false}, // 1080p 50 dual link
        {19, 20, 0x8A, 0x4A, true},  // 1080p 59.94 level B
    };
    for (const Case &c : cases) {
        for (int32_t col : {kColorimetry709, kColorimetry2020}) {
            konaAt(c.ntv2, 0);
            KonaRaster raster;
            ASSERT_TRUE(raster.init());
            if (raster.formatIndex() != static_cast<int32_t>(c.row)) {
                ASSERT_TRUE(raster.setRasterFormat(kKonaVideoFormats[c.row].name));
            }
            raster.setSignal(describedSignal(kEotfHlg, col));
            ASSERT_TRUE(raster.render(0, false));
            ASSERT_TRUE(raster.outputBuffer(0));
            const uint32_t msb = col == kColorimetry2020 ? 0x80 : 0x00; // UHDTV = binary 10
            const uint32_t want = word(c.byte1, c.byte2 | (1 << 4), msb | 0x20, 0x01);
            uint32_t a = 0, b = 0;
            ASSERT_TRUE(board().vpidOf(0, a, b));
            EXPECT_EQ(a, want) << std::hex << c.ntv2 << " col " << col;
            EXPECT_EQ(b, c.secondLink ? want | 0x40 : 0u) << c.ntv2;
            EXPECT_EQ(konaWordColorimetry(a), col == kColorimetry2020 ? 2u : 0u);
            SimFrame frame;
            ASSERT_TRUE(board().outputFrame(frame));
            EXPECT_EQ(frame.signal.colorimetry, col) << "the board reads the split bits back";
            EXPECT_EQ(frame.signal.eotf, kEotfHlg);
        }
    }
    // Colorimetry code 1 (in a VANC packet) sets only the LSB.
    EXPECT_EQ(konaSignalWord(0x85060000, 0, 1, 1, false), 0x85061001u);
    EXPECT_EQ(konaSignalWord(0x89CA0000, 0, 1, 1, false), 0x89CA1001u);
}

TEST(KonaSignal, HdmiInfoframeAndTheDescription)
{
    konaAt(24, 0);
    TempFolder folder;
    board().setCaptureFolder(folder.path());
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    QiSignal pq = describedSignal(kEotfPq, kColorimetry2020);
    pq.maxCll = 1000;
    pq.maxFall = 400;
    raster.setSignal(pq);
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.outputBuffer(0));
    EXPECT_TRUE(board().hdmiHdr());
    HDRRegValues r = board().hdrData();
    EXPECT_EQ(r.electroOpticalTransferFunction, 2);
    EXPECT_EQ(r.redPrimaryX, 35400); // 0.708 / 0.00002
    EXPECT_EQ(r.greenPrimaryY, 39850);
    EXPECT_EQ(r.whitePointX, 15635);
    EXPECT_EQ(r.maxMasteringLuminance, 1000);
    EXPECT_EQ(r.minMasteringLuminance, 50);
    EXPECT_EQ(r.maxContentLightLevel, 1000);
    EXPECT_EQ(r.maxFrameAverageLightLevel, 400);
    std::string json = readFile(folder.path() + "/kona-out.json");
    for (const char *part :
         {"\"sdiVpid\": [{\"output\": 1, \"a\": \"0x89EAA001\", \"b\": \"0x00000000\"}, {\"output\": 2, \"a\": "
          "\"0x89EAA001\", \"b\": \"0x00000000\"}]",
          "\"signal\": {\"eotf\": \"PQ\", \"colorimetry\": \"BT.2020\", \"range\": \"narrow\", \"bitDepth\": 10}",
          "\"hdrMetadata\": {\"present\": true, \"eotf\": \"PQ\", \"primaries\": {\"red\": [0.708, 0.292], "
          "\"green\": [0.17, 0.797], \"blue\": [0.131, 0.046]}, \"whitePoint\": [0.3127, 0.329], "
          "\"maxMasteringLuminance\": 1000, \"minMasteringLuminance\": 0.005, \"maxCLL\": 1000, \"maxFALL\": 400}",
          "\"hdmiInfoframe\": \"87 01 1A 91 02 00 34 21 AA 9B 96 19 FC 08 48 8A 08 39 13 3D 42 40 E8 03 32 00 E8 03 "
          "90 01\"}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;

    // The same signal again: nothing more is said to the card.
    board().clearCalls();
    ASSERT_TRUE(raster.outputBuffer(0));
    EXPECT_FALSE(hasCall("SetSDIOutVPID"));
    EXPECT_FALSE(hasCall("SetHDRData"));

    // HLG: the infoframe without the mastering display.
    QiSignal hlg = describedSignal(kEotfHlg, kColorimetry2020);
    raster.setSignal(hlg);
    ASSERT_TRUE(raster.outputBuffer(0));
    r = board().hdrData();
    EXPECT_EQ(r.electroOpticalTransferFunction, 3);
    EXPECT_EQ(r.redPrimaryX, 0);
    EXPECT_EQ(r.maxMasteringLuminance, 0);
    json = readFile(folder.path() + "/kona-out.json");
    EXPECT_NE(json.find("\"hdmiInfoframe\": \"87 01 1A 5B 03 00 00"), std::string::npos) << json;

    // Back to SDR: the infoframe stops, the description says so.
    raster.setSignal(describedSignal(kEotfSdr, kColorimetry709));
    ASSERT_TRUE(raster.outputBuffer(0));
    EXPECT_FALSE(board().hdmiHdr());
    json = readFile(folder.path() + "/kona-out.json");
    EXPECT_NE(json.find("\"hdrMetadata\": {\"present\": false}, \"hdmiInfoframe\": null}"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"a\": \"0x89CA8001\""), std::string::npos) << json;

    // Formats that do not go out over HDMI get no infoframe.
    konaAt(19, 0); // 1080p 59.94 dual link
    KonaRaster dl;
    ASSERT_TRUE(dl.init());
    board().clearCalls();
    dl.setSignal(pq);
    ASSERT_TRUE(dl.render(0, false));
    ASSERT_TRUE(dl.outputBuffer(0));
    EXPECT_FALSE(hasCall("SetHDRData"));
    EXPECT_FALSE(board().hdmiHdr());
}

TEST(KonaSignal, UntouchedSignalKeepsTheCallsAndWordsOfOld)
{
    konaAt(4, 0); // 720p 59.94
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    ASSERT_TRUE(raster.setRasterFormat("720p 50.00"));
    ASSERT_TRUE(raster.setRasterFormat("720p 59.94"));
    board().clearCalls();
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.outputBuffer(0));
    EXPECT_FALSE(hasCall("SetVPID"));
    EXPECT_FALSE(hasCall("SetSDIOutVPID"));
    EXPECT_FALSE(hasCall("EnableHDMIHDR"));
    uint32_t a = 0, b = 0;
    board().vpid(a, b);
    EXPECT_EQ(a, 0x844A0000u);
    EXPECT_FALSE(board().vpidOf(1, a, b)) << "only SDI output 1, as always";
    SimFrame frame;
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_EQ(frame.signal.eotf, kEotfSdr);
    EXPECT_FALSE(frame.signal.hdrPresent);
}
