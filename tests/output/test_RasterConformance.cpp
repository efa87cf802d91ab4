// One set of expectations run on both card back-ends over their simulated
// boards.
#include "BmdRaster.h"
#include "KonaRaster.h"
#include "SimBoards.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

namespace {

struct Backend {
    const char *board;
    std::function<void()> select;
    std::function<std::unique_ptr<QiRaster>()> make;
    const char *sdName; // a 576-line format of this board
};

class NullInterface : public QiRasterInterface {
public:
    bool requestRerender() override { return true; }
};

std::unique_ptr<QiRaster> makeKona()
{
    auto raster = std::make_unique<KonaRaster>();
    return raster->init() ? std::move(raster) : nullptr;
}

std::unique_ptr<QiRaster> makeBmd()
{
    auto raster = std::make_unique<BmdRaster>();
    testing::internal::CaptureStderr();
    bool ok = raster->init();
    testing::internal::GetCapturedStderr();
    return ok ? std::move(raster) : nullptr;
}

const Backend kBackends[] = {
    {"kona", SimBoards::selectKona, makeKona, "625 50.00 (576i)"},
    {"decklink", SimBoards::selectDeckLink, makeBmd, "PAL"},
};

class RasterConformance : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        GetParam().select();
        raster = GetParam().make();
        ASSERT_NE(raster, nullptr);
    }
    void TearDown() override
    {
        raster.reset();
        SimBoards::selectNone();
    }
    std::unique_ptr<QiRaster> raster;
};

} // namespace

TEST_P(RasterConformance, FormatsBuffersAndOutput)
{
    std::vector<std::string> names;
    int32_t def = -1;
    ASSERT_TRUE(raster->getFormatList(names, def));
    ASSERT_FALSE(names.empty());
    ASSERT_GE(def, 0);
    ASSERT_LT(def, static_cast<int32_t>(names.size()));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "names are distinct";
    EXPECT_FALSE(raster->rescanFormats());

    // The safe mode's format exists on both cards.
    ASSERT_TRUE(raster->setRasterFormat("720p 59.94"));
    EXPECT_EQ(raster->currentFormat(), "720p 59.94");
    EXPECT_EQ(raster->width(), 1280);
    EXPECT_EQ(raster->height(), 720);
    EXPECT_EQ(raster->colourEncoding(), 2);
    EXPECT_FALSE(raster->setRasterFormat("720p 59.95"));
    EXPECT_EQ(raster->currentFormat(), "720p 59.94");
    EXPECT_EQ(raster->outputPixelFormat(), 5);

    NullInterface a, b;
    EXPECT_TRUE(raster->setInterface(&a));
    EXPECT_FALSE(raster->setInterface(&b));
    EXPECT_TRUE(raster->setInterface(nullptr));
    std::vector<uint8_t> edid;
    EXPECT_TRUE(raster->readEdid(edid));
    EXPECT_EQ(edid, (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(raster->secondEyeBuffer(), nullptr);
    EXPECT_EQ(raster->firstEyeBuffer(), raster.get());
    EXPECT_EQ(raster->blackLevel(), 64);
    EXPECT_EQ(raster->whiteLevel(), 940);

    // Two buffers of different pictures: presents alternate on the output.
    ASSERT_TRUE(raster->setBufferCount(2));
    raster->fill(raster->pack(940, 940, 940));
    ASSERT_TRUE(raster->render(0, false));
    raster->fill(raster->pack(64, 64, 64));
    ASSERT_TRUE(raster->render(1, false));
    std::vector<std::vector<uint8_t>> shown;
    uint64_t lastSequence = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(raster->present(-1));
        SimFrame frame;
        ASSERT_TRUE(SimBoards::outputFrame(frame));
        EXPECT_GT(frame.sequence, lastSequence);
        lastSequence = frame.sequence;
        EXPECT_EQ(frame.videoFormat, "720p 59.94");
        EXPECT_EQ(frame.layout, "v210");
        EXPECT_EQ(frame.width, 1280);
        EXPECT_EQ(frame.rowBytes, 3456u);
        ASSERT_EQ(frame.bytes.size(), 3456u * 720u);
        shown.push_back(frame.bytes);
    }
    EXPECT_NE(shown[0], shown[1]);
    EXPECT_EQ(shown[0], shown[2]);
    EXPECT_EQ(shown[1], shown[3]);
    // Presented first is buffer 1: the black one. v210 word 0 of black
    // grey holds Cr 512, Y 64, Cb 512.
    uint32_t word = shown[0][0] | shown[0][1] << 8 | shown[0][2] << 16 | static_cast<uint32_t>(shown[0][3]) << 24;
    EXPECT_EQ(word, 512u << 20 | 64u << 10 | 512u);

    // A standard-definition format resets the colour encoding to Rec601.
    ASSERT_TRUE(raster->setRasterFormat(GetParam().sdName));
    EXPECT_EQ(raster->height(), 576);
    EXPECT_EQ(raster->colourEncoding(), 0);
    EXPECT_EQ(raster->bufferCount(), 2);
    EXPECT_TRUE(raster->render(1, true));
    EXPECT_TRUE(raster->present(1));
    SimFrame frame;
    ASSERT_TRUE(SimBoards::outputFrame(frame));
    EXPECT_EQ(frame.height, 576);
    EXPECT_EQ(frame.videoFormat, GetParam().sdName);
}

TEST_P(RasterConformance, CaptureFilesFollowPresents)
{
    TempFolder folder;
    ScopedEnv capture("ORVANE_SIM_CAPTURE", folder.path().c_str());
    // The folder is read when the board is selected.
    GetParam().select();
    raster = GetParam().make();
    ASSERT_NE(raster, nullptr);
    ASSERT_TRUE(raster->setRasterFormat("720p 59.94"));
    raster->fill(raster->pack(500, 600, 700));
    ASSERT_TRUE(raster->render(0, false));
    ASSERT_TRUE(raster->present(-1));
    ASSERT_TRUE(raster->present(-1));
    SimFrame frame;
    ASSERT_TRUE(SimBoards::outputFrame(frame));
    std::string base = folder.path() + "/" + GetParam().board + "-out";
    std::string raw = readFile(base + ".raw");
    EXPECT_EQ(raw, std::string(frame.bytes.begin(), frame.bytes.end()));
    EXPECT_EQ(readFile(base + ".json"), simFrameJson(frame) + "\n");
    EXPECT_NE(readFile(base + ".json").find("\"sequence\": 2, "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Boards, RasterConformance, testing::ValuesIn(kBackends),
                         [](const testing::TestParamInfo<Backend> &info) { return std::string(info.param.board); });
