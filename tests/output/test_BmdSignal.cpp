// HDR metadata on the DeckLink back-end: frames flagged with
// bmdFrameContainsHDRMetadata answer IDeckLinkVideoFrameMetadataExtensions,
// and the simulated driver reads them back.
#include "BmdOutput.h"
#include "BmdRaster.h"
#include "SimBoards.h"
#include "SimDeckLinkBoard.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace {

SimDeckLinkBoard &board() { return SimDeckLinkBoard::instance(); }

QiSignal signalOf(int32_t eotf)
{
    QiSignal s = describedSignal(eotf, kColorimetry2020, 1); // P3-D65
    s.maxLuminance = 4000;
    s.minLuminance = 0.0005;
    s.maxCll = 2000;
    s.maxFall = 500;
    return s;
}

} // namespace

TEST(BmdSignal, MetadataTravelsWithTheFrameAndIsAbsentForSdr)
{
    SimBoards::selectDeckLink();
    TempFolder folder;
    board().setCaptureFolder(folder.path());
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    EXPECT_TRUE(raster.bmdOutput()->hdrMetadata) << "BMDDeckLinkSupportsHDRMetadata";
    EXPECT_TRUE(raster.bmdOutput()->colorspaceMetadata) << "BMDDeckLinkSupportsColorspaceMetadata";
    ASSERT_TRUE(raster.setRasterFormat("HD 1080p 59.94"));

    // SDR: the device frame itself, unflagged.
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.outputBuffer(0));
    SimFrame frame;
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_FALSE(frame.signal.hdrPresent);
    EXPECT_EQ(frame.signal.bitDepth, 10);

    // PQ: read through the frame's metadata interface, as the driver does.
    raster.setSignal(signalOf(kEotfPq));
    ASSERT_TRUE(raster.outputBuffer(0));
    BmdOutput *out = raster.bmdOutput();
    IDeckLinkVideoFrame *shown = out->frameFor(raster.signal());
    EXPECT_TRUE(shown->GetFlags() & bmdFrameContainsHDRMetadata);
    IDeckLinkVideoFrameMetadataExtensions *ext = nullptr;
    ASSERT_EQ(shown->QueryInterface(IID_IDeckLinkVideoFrameMetadataExtensions, reinterpret_cast<LPVOID *>(&ext)),
              S_OK);
    int64_t i = 0;
    double d = 0;
    EXPECT_EQ(ext->GetInt(bmdDeckLinkFrameMetadataHDRElectroOpticalTransferFunc, &i), S_OK);
    EXPECT_EQ(i, 2) << "PQ is 2 in this numbering";
    EXPECT_EQ(ext->GetInt(bmdDeckLinkFrameMetadataColorspace, &i), S_OK);
    EXPECT_EQ(i, static_cast<int64_t>(bmdColorspaceRec2020));
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRDisplayPrimariesRedX, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.680);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRDisplayPrimariesGreenY, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.690);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRWhitePointY, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.3290);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRMaxDisplayMasteringLuminance, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 4000);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRMinDisplayMasteringLuminance, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.0005);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRMaximumContentLightLevel, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 2000);
    EXPECT_EQ(ext->GetFloat(bmdDeckLinkFrameMetadataHDRMaximumFrameAverageLightLevel, &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 500);
    EXPECT_EQ(ext->GetFloat(bmdFourCC("none"), &d), E_INVALIDARG);
    EXPECT_EQ(ext->GetInt(bmdFourCC("none"), &i), E_INVALIDARG);
    ext->Release();

    ASSERT_TRUE(board().outputFrame(frame));
    ASSERT_TRUE(frame.signal.hdrPresent);
    EXPECT_EQ(frame.signal.eotf, kEotfPq);
    EXPECT_EQ(frame.signal.colorimetry, kColorimetry2020);
    EXPECT_EQ(frame.signal.hdr.eotf, 2);
    EXPECT_EQ(frame.signal.hdr.primaries[2][0], 34000); // red x 0.680 in 0.00002 steps
    EXPECT_EQ(frame.signal.hdr.primaries[0][0], 13250); // green x 0.265
    EXPECT_EQ(frame.signal.hdr.minLuminance, 5);        // 0.0005 in 0.0001 steps
    EXPECT_EQ(frame.signal.hdr.maxLuminance, 4000);
    EXPECT_EQ(frame.signal.hdr.maxCll, 2000);
    std::string json = readFile(folder.path() + "/decklink-out.json");
    EXPECT_NE(json.find("\"hdrMetadata\": {\"present\": true, \"eotf\": \"PQ\", \"primaries\": {\"red\": [0.68, "
                        "0.32], \"green\": [0.265, 0.69], \"blue\": [0.15, 0.06]}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"sdiVpid\": []"), std::string::npos) << json;

    // HLG: no mastering display, the light levels still go.
    raster.setSignal(signalOf(kEotfHlg));
    ASSERT_TRUE(raster.outputBuffer(0));
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_EQ(frame.signal.eotf, kEotfHlg);
    EXPECT_EQ(frame.signal.hdr.eotf, 3);
    EXPECT_EQ(frame.signal.hdr.primaries[2][0], 0);
    EXPECT_EQ(frame.signal.hdr.maxLuminance, 0);
    EXPECT_EQ(frame.signal.hdr.maxCll, 2000);

    // Back to SDR: unflagged again.
    raster.setSignal(signalOf(kEotfSdr));
    ASSERT_TRUE(raster.outputBuffer(0));
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_FALSE(frame.signal.hdrPresent);
    EXPECT_EQ(frame.signal.eotf, kEotfSdr);

    // A new device frame (format change) is wrapped afresh.
    ASSERT_TRUE(raster.setRasterFormat("720p 59.94"));
    raster.setSignal(signalOf(kEotfPq));
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.outputBuffer(0));
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_TRUE(frame.signal.hdrPresent);
    EXPECT_EQ(frame.width, 1280);
}

TEST(BmdSignal, DeviceWithoutHdrSupportGetsPlainFrames)
{
    SimBoards::selectDeckLink();
    board().setHdrSupported(false);
    BmdRaster raster;
    ASSERT_TRUE(raster.init());
    EXPECT_FALSE(raster.bmdOutput()->hdrMetadata);
    ASSERT_TRUE(raster.setRasterFormat("HD 1080p 59.94"));
    raster.setSignal(signalOf(kEotfPq));
    ASSERT_TRUE(raster.render(0, false));
    ASSERT_TRUE(raster.outputBuffer(0));
    SimFrame frame;
    ASSERT_TRUE(board().outputFrame(frame));
    EXPECT_FALSE(frame.signal.hdrPresent);
}
