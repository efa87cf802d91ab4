// saveImageAsPng from another thread while the render thread changes the
// frame buffer's size.
#include "../common/CountingRaster.h"
#include "OvCore.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "StdioOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Two formats of different sizes; a format change resizes the image, and
// the render thread can be held inside it.
class ResizingRaster : public CountingRaster {
public:
    ResizingRaster() { QiImage::resize(64, 32); }
    bool getFormatList(std::vector<std::string> &names, int32_t &def) override
    {
        names = {"small", "large"};
        def = 0;
        return true;
    }
    std::string currentFormat() override
    {
        std::lock_guard<std::mutex> g(lock);
        return format;
    }
    bool setRasterFormat(const std::string &name) override
    {
        {
            std::unique_lock<std::mutex> g(lock);
            inside = true;
            cond.notify_all();
            cond.wait(g, [this] { return !hold; });
        }
        const bool large = name == "large";
        // The old array is freed here: a reader on another thread would
        // read freed memory.
        QiImage::resize(large ? 96 : 64, large ? 48 : 32);
        fill(pack(large ? 800 : 400, 200, 100));
        std::lock_guard<std::mutex> g(lock);
        format = name;
        inside = false;
        return true;
    }
    void waitInside()
    {
        std::unique_lock<std::mutex> g(lock);
        cond.wait(g, [this] { return inside; });
    }
    void release()
    {
        std::lock_guard<std::mutex> g(lock);
        hold = false;
        cond.notify_all();
    }

    std::mutex lock;
    std::condition_variable cond;
    std::string format = "small";
    bool hold = false;
    bool inside = false;
};

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-snapshot-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

TEST(Snapshot, WaitsForARequestThatResizesTheFrameBuffer)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    ResizingRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {});

    raster.hold = true;
    QiParams change;
    change.set("VideoFormat", "large");
    core.post(change);
    raster.waitInside();

    // The render thread is inside the format change: the snapshot waits.
    const std::string path = (dir.path / "snap.png").string();
    auto saved = std::async(std::launch::async, [&] { return core.saveImageAsPng(path.c_str()); });
    EXPECT_EQ(saved.wait_for(200ms), std::future_status::timeout) << "the snapshot did not wait for the resize";
    raster.release();
    ASSERT_TRUE(saved.get());

    auto image = loadImage((dir.path / "snap").string(), 8);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 96) << "the snapshot shows the frame buffer after the change";
    EXPECT_EQ(image->height(), 48);
    EXPECT_EQ(image->pixel(95, 47), image->pack(200, 50, 25));
    core.shutdown();
    swapLogOutput(std::move(old));
}

// Snapshots and format changes back to back: no torn or freed reads (the
// sanitizer builds watch this one).
TEST(Snapshot, RepeatedSnapshotsDuringFormatChanges)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    ResizingRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {});
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        QiParams t;
        t.set("VideoFormat", "toggle");
        for (int i = 0; i < 200 && !stop; ++i) {
            int32_t id = core.post(t);
            bool r;
            core.waitTransaction(id, r);
        }
    });
    const std::string path = (dir.path / "snap.png").string();
    int good = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(core.saveImageAsPng(path.c_str()));
        int32_t w = 0, h = 0;
        bool ycc = false;
        ASSERT_TRUE(imageInfo(path, w, h, ycc));
        EXPECT_TRUE((w == 64 && h == 32) || (w == 96 && h == 48)) << w << "x" << h;
        good += 1;
    }
    stop = true;
    toggler.join();
    EXPECT_EQ(good, 100);
    core.shutdown();
    swapLogOutput(std::move(old));
}
