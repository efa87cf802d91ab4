#include "QiRaster.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A raster whose device is a list of the buffers it was asked to output.
class RecordingRaster : public QiRaster {
public:
    bool render(int32_t, bool) override { return true; }
    bool setBufferCount(int32_t n) override
    {
        m_bufferCount = n;
        m_currentBuffer = 0;
        return true;
    }
    std::string gatewareVersion() override { return "test"; }
    std::string serialNumber() override { return "test"; }
    bool outputBuffer(int32_t index) override
    {
        outputs.push_back(index);
        return true;
    }
    std::vector<int32_t> outputs;
};

class CountingInterface : public QiRasterInterface {
public:
    bool requestRerender() override { return true; }
};

} // namespace

TEST(QiRaster, PresentCyclesThroughTheBuffers)
{
    RecordingRaster raster;
    // One buffer: -1 always outputs buffer 0.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(raster.present(-1));
    EXPECT_EQ(raster.outputs, (std::vector<int32_t>{0, 0, 0}));

    raster.outputs.clear();
    raster.setBufferCount(3);
    for (int i = 0; i < 5; ++i)
        raster.present(-1);
    EXPECT_EQ(raster.outputs, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    EXPECT_EQ(raster.currentBuffer(), 2);

    // An explicit index is taken as given and continues the cycle from there.
    raster.outputs.clear();
    raster.present(0);
    raster.present(-1);
    EXPECT_EQ(raster.outputs, (std::vector<int32_t>{0, 1}));
}

TEST(QiRaster, InterfaceIsSetOnceAndCleared)
{
    RecordingRaster raster;
    CountingInterface first, second;
    EXPECT_EQ(raster.interface(), nullptr);
    EXPECT_TRUE(raster.setInterface(&first));
    EXPECT_FALSE(raster.setInterface(&second));
    EXPECT_EQ(raster.interface(), &first);
    EXPECT_TRUE(raster.setInterface(nullptr));
    EXPECT_EQ(raster.interface(), nullptr);
    EXPECT_TRUE(raster.setInterface(&second));
    EXPECT_EQ(raster.interface(), &second);
}

TEST(QiRaster, BaseBehaviour)
{
    RecordingRaster raster;
    EXPECT_EQ(raster.width(), 1280);
    EXPECT_EQ(raster.height(), 720);
    EXPECT_EQ(raster.bits(), 10);
    EXPECT_EQ(raster.blackLevel(), 0);
    EXPECT_EQ(raster.whiteLevel(), 255);
    EXPECT_EQ(raster.bufferCount(), 1);

    std::vector<std::string> names{"stale"};
    int32_t def = -1;
    EXPECT_TRUE(raster.getFormatList(names, def));
    EXPECT_EQ(names, (std::vector<std::string>{"default"}));
    EXPECT_EQ(def, 0);
    EXPECT_EQ(raster.currentFormat(), "default");
    EXPECT_FALSE(raster.setRasterFormat("default"));
    EXPECT_FALSE(raster.rescanFormats());
    EXPECT_FALSE(raster.rerenderP());

    EXPECT_TRUE(raster.setOutputPixelFormat(7));
    EXPECT_EQ(raster.outputPixelFormat(), 7);
    EXPECT_EQ(raster.supportedPixelFormats(), 1u);
    EXPECT_EQ(raster.firstEyeBuffer(), &raster);
    EXPECT_EQ(raster.secondEyeBuffer(), nullptr);

    std::vector<uint8_t> edid;
    EXPECT_TRUE(raster.readEdid(edid));
    EXPECT_EQ(edid, (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST(QiRaster, FrameBlockIsKeptAtTheSameSize)
{
    QiFrameBlock block;
    ASSERT_TRUE(block.prepare(4096));
    const uint8_t *first = block.data();
    for (size_t i = 0; i < block.size(); ++i)
        ASSERT_EQ(block.data()[i], 0) << i;
    block.data()[10] = 0x5A;
    // Same size: same memory, contents kept.
    ASSERT_TRUE(block.prepare(4096));
    EXPECT_EQ(block.data(), first);
    EXPECT_EQ(block.data()[10], 0x5A);
    // Another size: a fresh, zero-filled block.
    ASSERT_TRUE(block.prepare(8192));
    EXPECT_EQ(block.size(), 8192u);
    EXPECT_EQ(block.data()[10], 0);
    ASSERT_TRUE(block.prepare(0));
    EXPECT_EQ(block.data(), nullptr);

    EXPECT_EQ(qiFrameBytes(3456, 720, 2), size_t{3456} * 720 * 2);
    EXPECT_EQ(qiFrameBytes(SIZE_MAX / 2, 720, 1), 0u);
    EXPECT_EQ(qiFrameBytes(16384, 2160, 100000), 0u);
    EXPECT_EQ(qiFrameBytes(100, -1, 1), 0u);
}
