#include "QiRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
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

TEST(QiRaster, FrameBlockKeepsItsMemory)
{
    QiFrameBlock block;
    ASSERT_TRUE(block.prepare(4096));
    const uint8_t *first = block.data();
    for (size_t i = 0; i < block.size(); ++i)
        ASSERT_EQ(block.data()[i], 0) << i;
    block.writable(0, 4096)[10] = 0x5A;
    // Same size: same memory, contents kept.
    ASSERT_TRUE(block.prepare(4096));
    EXPECT_EQ(block.data(), first);
    EXPECT_EQ(block.data()[10], 0x5A);
    // More than it holds: a fresh, zero-filled block.
    ASSERT_TRUE(block.prepare(8192));
    EXPECT_EQ(block.size(), 8192u);
    EXPECT_EQ(block.capacity(), 8192u);
    EXPECT_EQ(block.data()[10], 0);
    const uint8_t *larger = block.data();
    std::memset(block.writable(0, 8192), 0xEE, 8192);
    // Fewer frames reuse the larger block; the count asked for reads as
    // zeros, as a fresh block would.
    ASSERT_TRUE(block.prepare(4096));
    EXPECT_EQ(block.data(), larger);
    EXPECT_EQ(block.size(), 4096u);
    EXPECT_EQ(block.capacity(), 8192u);
    EXPECT_EQ(std::count(block.data(), block.data() + 4096, 0), 4096);
    std::memset(block.writable(0, 4096), 0xEE, 4096);
    ASSERT_TRUE(block.prepare(8192));
    EXPECT_EQ(block.data(), larger);
    EXPECT_EQ(std::count(block.data(), block.data() + 8192, 0), 8192);
    // Down to just over a quarter it is still reused; a quarter or less gets
    // a block of its own.
    ASSERT_TRUE(block.prepare(2049));
    EXPECT_EQ(block.data(), larger);
    ASSERT_TRUE(block.prepare(2048));
    EXPECT_EQ(block.capacity(), 2048u);
    // Writes stay inside what was prepared.
    EXPECT_NE(block.writable(2047, 1), nullptr);
    EXPECT_EQ(block.writable(2047, 2), nullptr);
    EXPECT_EQ(block.writable(2049, 0), nullptr);
    EXPECT_EQ(block.writable(SIZE_MAX, 2), nullptr);
    EXPECT_EQ(block.writable(1, SIZE_MAX), nullptr);
    ASSERT_TRUE(block.prepare(0));
    EXPECT_EQ(block.data(), nullptr);
    EXPECT_EQ(block.writable(0, 0), nullptr);

    // Frame-sized blocks (mapped from the system) behave the same.
    const size_t frame = size_t{3456} * 720;
    ASSERT_TRUE(block.prepare(2 * frame));
    const uint8_t *two = block.data();
    std::memset(block.writable(0, 2 * frame), 0x11, 2 * frame);
    ASSERT_TRUE(block.prepare(frame));
    EXPECT_EQ(block.data(), two);
    EXPECT_EQ(std::count(block.data(), block.data() + frame, 0), static_cast<std::ptrdiff_t>(frame));

    EXPECT_EQ(qiFrameBytes(3456, 720, 2), size_t{3456} * 720 * 2);
    EXPECT_EQ(qiFrameBytes(SIZE_MAX / 2, 720, 1), 0u);
    EXPECT_EQ(qiFrameBytes(16384, 2160, 100000), 0u);
    EXPECT_EQ(qiFrameBytes(100, -1, 1), 0u);
}

namespace {
// Records what a block says before it changes.
struct RecordingReader : QiFrameBlock::Reader {
    std::vector<std::pair<const uint8_t *, size_t>> told;
    void blockChanging(const uint8_t *begin, size_t bytes) override { told.emplace_back(begin, bytes); }
};
} // namespace

TEST(QiRaster, FrameBlockTellsItsReadersBeforeAChange)
{
    RecordingReader reader, other;
    QiFrameBlock block;
    ASSERT_TRUE(block.prepare(1000));
    const uint8_t *base = block.data();
    // Only memory inside a prepared block can be watched.
    std::vector<uint8_t> elsewhere(100);
    EXPECT_FALSE(QiFrameBlock::watch(elsewhere.data(), 100, &reader));
    EXPECT_FALSE(QiFrameBlock::watch(base + 900, 101, &reader));
    ASSERT_TRUE(QiFrameBlock::watch(base + 100, 200, &reader));
    ASSERT_TRUE(QiFrameBlock::watch(base + 100, 200, &reader)); // once is enough
    EXPECT_TRUE(reader.told.empty());

    // Each write, reuse and release is announced, with the range it touches.
    ASSERT_NE(block.writable(500, 10), nullptr);
    ASSERT_EQ(reader.told.size(), 1u);
    EXPECT_EQ(reader.told[0], std::make_pair(base + 500, size_t{10}));
    ASSERT_TRUE(block.prepare(1000)); // kept as it is: nothing changes
    EXPECT_EQ(reader.told.size(), 1u);
    ASSERT_TRUE(block.prepare(600)); // reused and zeroed
    ASSERT_EQ(reader.told.size(), 2u);
    EXPECT_EQ(reader.told[1], std::make_pair(base, size_t{1000}));

    ASSERT_TRUE(QiFrameBlock::watch(base, 10, &other));
    QiFrameBlock::forget(&reader);
    block.writable(0, 1);
    EXPECT_EQ(reader.told.size(), 2u);
    ASSERT_EQ(other.told.size(), 1u);
    // Given back: the last word, and nothing is watched any more.
    block.release();
    ASSERT_EQ(other.told.size(), 2u);
    EXPECT_EQ(other.told[1], std::make_pair(base, size_t{1000}));
    ASSERT_TRUE(block.prepare(64));
    block.writable(0, 64);
    EXPECT_EQ(other.told.size(), 2u);
}
