// Image files from pattern folders: resolution choice, sequences, anchors and
// offsets, error text, raw YCbCr samples, the decoded-image cache.
#include "KonaRaster.h"
#include "OvpImageFile.h"
#include "PatternHarness.h"
#include "QiFont.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-imagefile-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string str() const { return path.string(); }
};

// Pixel (x, y) of a test image: red x mod 256, green y mod 256, blue the
// 256-blocks, so every position below 512 x 512 is told apart.
uint64_t imagePixel(const QiImage &img, int32_t x, int32_t y)
{
    return img.pack(static_cast<uint32_t>(x % 256), static_cast<uint32_t>(y % 256),
                    static_cast<uint32_t>(x / 256 + 2 * (y / 256)));
}

void writeCoordinatePng(const fs::path &p, int32_t w, int32_t h)
{
    QiImage img(w, h, 8);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img.setPixel(x, y, imagePixel(img, x, y));
    ASSERT_TRUE(img.savePng(p.c_str())) << p;
}

void writeSolidPng(const fs::path &p, uint32_t r, uint32_t g, uint32_t b, int32_t w = 8, int32_t h = 8)
{
    QiImage img(w, h, 8);
    img.fill(img.pack(r, g, b));
    ASSERT_TRUE(img.savePng(p.c_str())) << p;
}

void writeBytes(const fs::path &p, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The test image's pixel at the raster's depth (PNGs decode 8-bit samples
// shifted up).
Rgb expectedAt(const PatternHarness &t, int32_t x, int32_t y)
{
    const uint32_t s = static_cast<uint32_t>(t.raster.bits() - 8);
    return {static_cast<uint32_t>(x % 256) << s, static_cast<uint32_t>(y % 256) << s,
            static_cast<uint32_t>(x / 256 + 2 * (y / 256)) << s};
}

Rgb videoBlack(const PatternHarness &t)
{
    const uint32_t v = 16u << (t.raster.bits() - 8);
    return {v, v, v};
}

// Every pixel: the image with its top-left at frame (ax, ay) showing image
// position (sx, sy), clipped to the region [rx, rx+rw) x [ry, ry+rh) of the
// frame, video black elsewhere. Stops at the first difference.
void expectPlaced(const PatternHarness &t, int32_t imgW, int32_t imgH, int32_t ax, int32_t ay, int32_t sx, int32_t sy,
                  int32_t rx, int32_t ry, int32_t rw, int32_t rh)
{
    const int32_t W = t.raster.width(), H = t.raster.height();
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const int32_t ix = x - ax + sx, iy = y - ay + sy;
            const bool inside = x >= rx && x < rx + rw && y >= ry && y < ry + rh && ix >= 0 && iy >= 0 &&
                                ix < imgW && iy < imgH;
            const Rgb want = inside ? expectedAt(t, ix, iy) : videoBlack(t);
            if (t.at(x, y) != want) {
                ADD_FAILURE() << "at (" << x << ", " << y << "): " << t.at(x, y) << " instead of " << want;
                return;
            }
        }
}

// Lines logged while it is current.
struct LogCapture : QiOutput {
    LogCapture() : QiOutput(3) {}
    bool write(const char *bytes, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m);
        text.append(bytes, length);
        return true;
    }
    std::string get()
    {
        std::lock_guard<std::mutex> lock(m);
        return text;
    }
    std::mutex m;
    std::string text;
};

class ImageFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto capture = std::make_unique<LogCapture>();
        log = capture.get();
        old = swapLogOutput(std::move(capture));
    }
    void TearDown() override
    {
        SimBoards::selectNone();
        swapLogOutput(std::move(old));
    }
    LogCapture *log = nullptr;
    std::unique_ptr<QiOutput> old;
};

OvpImageFile *imageRenderer(OvCore &engine)
{
    return dynamic_cast<OvpImageFile *>(engine.findRenderer("ImageFile"));
}

} // namespace

TEST_F(ImageFile, RegistersTheDataFolderAndTheTestCardIsAnAlias)
{
    PatternHarness t(1920, 1080, 10);
    ASSERT_EQ(t.render({{"Pattern", "Nimbra-Test-Card"}}), imageRenderer(t.engine));
    // The 1080-line card fills the 1080-line frame, each word the 8-bit
    // sample shifted to 10 bits.
    auto card = loadImage(std::string(ORVANE_DATA_DIR) + "/ImageFiles/Nimbra-Test-Card-1080", 10);
    ASSERT_NE(card, nullptr);
    ASSERT_EQ(card->width(), 1920);
    size_t differ = 0;
    for (int32_t y = 0; y < 1080; ++y)
        for (int32_t x = 0; x < 1920; ++x)
            differ += t.raster.pixel(x, y) != card->pixel(x, y);
    EXPECT_EQ(differ, 0u);
    EXPECT_EQ(t.engine.findRenderer("ImageFile")->framePeriod.load(), 0);
}

TEST_F(ImageFile, ThePreparedResolutionFollowsTheOutputHeight)
{
    TempDir dir;
    writeSolidPng(dir.path / "A-720.png", 10, 0, 0);
    writeSolidPng(dir.path / "A-1080.png", 20, 0, 0);
    writeSolidPng(dir.path / "A-2160.png", 30, 0, 0);
    // One prepared resolution only: nVres is 1 and its keys carry 1080.
    writeSolidPng(dir.path / "B-1080.png", 40, 0, 0);
    writeSolidPng(dir.path / "C.png", 50, 0, 0);
    struct {
        int32_t w, h;
        const char *alias;
        uint32_t red;
    } cases[] = {
        {1920, 1080, "t/A", 20}, {720, 576, "t/A", 10},  {3840, 2160, "t/A", 30}, {1280, 720, "t/A", 10},
        {1920, 1080, "t/B", 40}, {720, 576, "t/B", 40},  {721, 487, "t/C", 50},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.alias) + " at " + std::to_string(c.h));
        PatternHarness t(c.w, c.h, 10);
        t.engine.scanFolder(dir.str().c_str(), "t/", false);
        t.poison();
        t.render({{"Pattern", c.alias}});
        EXPECT_EQ(t.at(c.w / 2, c.h / 2), (Rgb{c.red << 2, 0, 0}));
        EXPECT_EQ(t.at(0, 0), videoBlack(t));
        EXPECT_EQ(t.at(c.w - 1, c.h - 1), videoBlack(t));
    }
    EXPECT_EQ(log->get().find("couldn't figure out"), std::string::npos) << log->get();

    // The choice itself: last listed resolution not above the height, else
    // the first listed; absent or malformed keys are not listed.
    QiParams p;
    p.set("nVres", "3");
    p.set("vres0", "2160");
    p.set("vres1", "720");
    p.set("vres2", "1080");
    EXPECT_EQ(OvpImageFile::chooseResolution(p, 1080), 1080);
    EXPECT_EQ(OvpImageFile::chooseResolution(p, 1079), 720);
    EXPECT_EQ(OvpImageFile::chooseResolution(p, 480), 2160);
    p.set("nVres", "2");
    EXPECT_EQ(OvpImageFile::chooseResolution(p, 1080), 720);
    p.set("nVres", "0");
    EXPECT_EQ(OvpImageFile::chooseResolution(p, 1080), 0);
    QiParams q;
    q.set("nVres", "2000000000");
    q.set("vres01", "480");
    q.set("vres1999999999", "576");
    EXPECT_EQ(OvpImageFile::chooseResolution(q, 1080), 576);
}

TEST_F(ImageFile, AnchorsPlaceSmallerImagesAndCropLargerOnes)
{
    TempDir dir;
    writeCoordinatePng(dir.path / "Small.png", 101, 61);
    writeCoordinatePng(dir.path / "Large.png", 500, 401);
    const char *anchors[] = {"TL", "TC", "TR", "ML", "MC", "MR", "BL", "BC", "BR"};
    for (int bits : {10, 8}) {
        PatternHarness t(320, 241, bits);
        t.engine.scanFolder(dir.str().c_str(), "t/", false);
        const int32_t W = 320, H = 241;
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE(std::string(anchors[i]) + " at " + std::to_string(bits) + " bits");
            const int col = i % 3, row = i / 3; // 0 left/top, 1 centre, 2 right/bottom
            {
                const int32_t w = 101, h = 61;
                const int32_t ax = col == 0 ? 0 : col == 1 ? (W - w) / 2 : W - w;
                const int32_t ay = row == 0 ? 0 : row == 1 ? (H - h) / 2 : H - h;
                t.poison();
                t.render({{"Pattern", "t/Small"}, {"Anchor", anchors[i]}});
                expectPlaced(t, w, h, ax, ay, 0, 0, 0, 0, W, H);
            }
            {
                // The frame shows the left, middle or right part of the image.
                const int32_t w = 500, h = 401;
                const int32_t sx = col == 0 ? 0 : col == 1 ? (w - W) / 2 : w - W;
                const int32_t sy = row == 0 ? 0 : row == 1 ? (h - H) / 2 : h - H;
                t.poison();
                t.render({{"Pattern", "t/Large"}, {"Anchor", anchors[i]}});
                expectPlaced(t, w, h, 0, 0, sx, sy, 0, 0, W, H);
            }
        }
    }
}

TEST_F(ImageFile, OffsetsAndCopySizes)
{
    TempDir dir;
    writeCoordinatePng(dir.path / "I.png", 200, 100);
    writeCoordinatePng(dir.path / "L.png", 500, 401);
    PatternHarness t(320, 240, 10);
    t.engine.scanFolder(dir.str().c_str(), "t/", false);

    // width 50 at dxOff 100: a 50-pixel strip of the image at x = 100.
    t.render({{"Pattern", "t/I"}, {"Anchor", "TL"}, {"dxOff", "100"}, {"width", "50"}});
    expectPlaced(t, 200, 100, 100, 0, 0, 0, 100, 0, 50, 100);
    // A width above 100 is held to 100; 0 (and the default -1) mean all that fits.
    t.render({{"Pattern", "t/I"}, {"Anchor", "TL"}, {"width", "150"}, {"height", "30"}});
    expectPlaced(t, 200, 100, 0, 0, 0, 0, 0, 0, 100, 30);
    t.render({{"Pattern", "t/I"}, {"Anchor", "TL"}, {"width", "0"}, {"dyOff", "200"}});
    expectPlaced(t, 200, 100, 0, 200, 0, 0, 0, 200, 200, 40);
    // Source offsets, and a destination left of the frame.
    t.render({{"Pattern", "t/I"}, {"Anchor", "TL"}, {"sxOff", "5"}, {"syOff", "7"}, {"dxOff", "-10"}});
    expectPlaced(t, 200, 100, -10, 0, 5, 7, 0, 0, 320, 240);
    // Anchored right: the strip ends at the right edge.
    t.render({{"Pattern", "t/I"}, {"Anchor", "TR"}, {"width", "50"}});
    expectPlaced(t, 200, 100, 270, 0, 150, 0, 270, 0, 50, 100);

    // Offsets at and beyond the edges, for every anchor, never copy from
    // or to outside either image (the sanitizer builds watch the reads and
    // writes); whatever shows is the image's own pixels on video black.
    const char *anchors[] = {"TL", "TC", "TR", "ML", "MC", "MR", "BL", "BC", "BR"};
    const char *offsets[] = {"-65535", "-501", "-1", "0", "1", "319", "500", "65536"};
    for (const char *image : {"t/I", "t/L"})
        for (const char *anchor : anchors)
            for (const char *off : offsets) {
                t.render({{"Pattern", image}, {"Anchor", anchor}, {"dxOff", off}, {"sxOff", off}, {"dyOff", off},
                          {"syOff", "-3"}, {"width", "100"}});
                size_t foreign = 0;
                for (int32_t y = 0; y < 240; ++y)
                    for (int32_t x = 0; x < 320; ++x) {
                        const Rgb p = t.at(x, y);
                        foreign += !(p == videoBlack(t)) && (p.b > (3u << 2) || (p.r & 3) || (p.g & 3));
                    }
                EXPECT_EQ(foreign, 0u) << image << " " << anchor << " " << off;
            }
}

TEST_F(ImageFile, ErrorTextOverThePreviousContent)
{
    TempDir dir;
    // Passes the folder scan's header probe, then the data end.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                0,    0,   0,   64,  0,  0,  0,  32, 8, 2, 0, 0,  0,   1,   2,   3};
    writeBytes(dir.path / "bad.png", png);
    writeSolidPng(dir.path / "gone.png", 1, 2, 3);
    PatternHarness t(1920, 1080, 10);
    t.engine.scanFolder(dir.str().c_str(), "t/", false);
    fs::remove(dir.path / "gone.png");

    for (const char *which : {"bad", "gone"}) {
        SCOPED_TRACE(which);
        t.render({{"Pattern", "Colorbars"}});
        QiImage before(1920, 1080, 10);
        before.blit(&t.raster, 0, 0, 0, 0, -1, -1);
        t.render({{"Pattern", (std::string("t/") + which).c_str()}});
        // The frame is not cleared: the expected picture is the bars with
        // the text drawn at the centre in grey 240 (960 at 10 bits).
        QiImage expected(1920, 1080, 10);
        expected.blit(&before, 0, 0, 0, 0, -1, -1);
        int32_t tw = 0, th = 0;
        ASSERT_NE(t.engine.font(OvCore::kTitleFont), nullptr);
        const std::string text = std::string("Error Loading '/") + which + ".png'";
        drawText(expected, *t.engine.font(OvCore::kTitleFont), text.c_str(), expected.pack(960, 960, 960), 960,
                 540, tw, th, false, 4);
        size_t differ = 0, changed = 0;
        for (int32_t y = 0; y < 1080; ++y)
            for (int32_t x = 0; x < 1920; ++x) {
                differ += t.raster.pixel(x, y) != expected.pixel(x, y);
                changed += t.raster.pixel(x, y) != before.pixel(x, y);
            }
        EXPECT_EQ(differ, 0u);
        EXPECT_GT(changed, 1000u) << "no text drawn";
        // Everything away from the centre keeps the bars.
        EXPECT_EQ(t.raster.pixel(10, 10), before.pixel(10, 10));
        EXPECT_EQ(t.raster.pixel(1900, 1070), before.pixel(1900, 1070));
    }
}

TEST_F(ImageFile, HostileFilesShowTheErrorTextAndNeverCrash)
{
    TempDir dir;
    const fs::path d = dir.path;
    // PNG whose header claims a huge picture.
    writeBytes(d / "huge.png", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0x75,
                                0x30, 0, 0, 0x75, 0x30, 8, 2, 0, 0, 0, 0, 0, 0, 0});
    // JPEG start and a frame header, then nothing.
    writeBytes(d / "cut.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0x10, 0, 0x10, 0, 3, 1, 0x22, 0, 2, 0x11, 1, 3,
                               0x11, 1, 0, 0, 0, 0, 0});
    // .ovi whose header promises more pixels than follow.
    writeBytes(d / "short.ovi", {1, 'I', 'V', 'O', 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0, 1, 2});
    // Raw file whose sidecar claims a picture far larger than the data.
    writeBytes(d / "raw.yuv", {1, 2, 3, 4});
    {
        std::ofstream side(d / "raw.raw_data");
        side << "[RawData]\nWidth=1000000\nHeight=1000000\nFourCC=UYVY\n";
    }
    writeBytes(d / "empty.png", {});
    PatternHarness t(640, 360, 10);
    for (const char *file : {"huge.png", "cut.jpg", "short.ovi", "raw.yuv", "empty.png", "nothing-here.png"}) {
        SCOPED_TRACE(file);
        t.raster.fill(t.grey(300));
        t.render({{"Pattern", "ImageFile"}, {"Folder", dir.str().c_str()}, {"r0-f0", file}});
        size_t changed = 0;
        for (int32_t y = 0; y < 360; ++y)
            for (int32_t x = 0; x < 640; ++x)
                changed += t.raster.pixel(x, y) != t.grey(300);
        EXPECT_GT(changed, 100u) << "no error text";
        EXPECT_EQ(t.at(0, 0), (Rgb{300, 300, 300}));
    }
}

TEST_F(ImageFile, RawYCbCrSamplesAreShownAsStored)
{
    TempDir dir;
    // UYVY, 4 x 2: U Y0 V Y1 per pixel pair.
    writeBytes(dir.path / "Y.yuv", {100, 16, 200, 235, 101, 17, 201, 234, 50, 60, 70, 80, 51, 61, 71, 81});
    {
        std::ofstream side(dir.path / "Y.raw_data");
        side << "[RawData]\nWidth=4\nHeight=2\nFourCC=uyvy\n";
    }
    PatternHarness t(64, 32, 10);
    t.engine.scanFolder(dir.str().c_str(), "t/", false);
    t.render({{"Pattern", "t/Y"}, {"Anchor", "TL"}});
    // Luma in green, the pixel's chroma sample in red, blue 0.
    const Rgb want[2][4] = {{{400, 64, 0}, {800, 940, 0}, {404, 68, 0}, {804, 936, 0}},
                            {{200, 240, 0}, {280, 320, 0}, {204, 244, 0}, {284, 324, 0}}};
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(t.at(x, y), want[y][x]) << x << ", " << y;
    EXPECT_EQ(t.at(4, 0), videoBlack(t));
    EXPECT_EQ(t.at(0, 2), videoBlack(t));
}

TEST_F(ImageFile, SequencesPrepareEveryFrameLogGapsAndDecodeOnce)
{
    TempDir dir;
    writeSolidPng(dir.path / "S~0.png", 10, 0, 0);
    writeSolidPng(dir.path / "S~1.png", 20, 0, 0);
    writeSolidPng(dir.path / "S~2.png", 30, 0, 0);
    writeSolidPng(dir.path / "G~0.png", 40, 0, 0);
    writeSolidPng(dir.path / "G~2.png", 60, 0, 0);
    PatternHarness t(160, 90, 10);
    t.engine.scanFolder(dir.str().c_str(), "t/", false);
    OvpImageFile *r = imageRenderer(t.engine);
    ASSERT_NE(r, nullptr);

    const int before = t.raster.renders.load();
    const uint64_t decodes = r->cache().decodes();
    t.render({{"Pattern", "t/S"}});
    EXPECT_EQ(t.raster.bufferCount(), 3);
    EXPECT_EQ(t.raster.renders.load() - before, 3);
    EXPECT_EQ(r->framePeriod.load(), 750);
    EXPECT_EQ(t.at(80, 45), (Rgb{120, 0, 0})); // the last frame drawn
    EXPECT_EQ(r->cache().decodes() - decodes, 3u);
    // Drawn again with nothing changed: no decode.
    t.render({{"Pattern", "t/S"}});
    EXPECT_EQ(r->cache().decodes() - decodes, 3u);
    // A file written anew is decoded again.
    std::this_thread::sleep_for(10ms);
    writeSolidPng(dir.path / "S~2.png", 33, 0, 0);
    t.render({{"Pattern", "t/S"}});
    EXPECT_EQ(r->cache().decodes() - decodes, 4u);
    EXPECT_EQ(t.at(80, 45), (Rgb{132, 0, 0}));

    // A missing frame number: logged, the frame buffer left as it was.
    t.render({{"Pattern", "t/G"}});
    EXPECT_NE(log->get().find("Warning: couldn't figure out file for 'G / r0-f1'\n"), std::string::npos)
        << log->get();
    EXPECT_EQ(t.at(80, 45), (Rgb{240, 0, 0}));

    // A client's huge frame count is held to the limit.
    const int count = t.raster.renders.load();
    t.render({{"Pattern", "ImageFile"}, {"Folder", dir.str().c_str()}, {"nF0", "2147483647"}, {"r0-f0", "S~0.png"}});
    EXPECT_EQ(t.raster.renders.load() - count, OvpImageFile::kMaxFrames);
    EXPECT_EQ(t.raster.bufferCount(), OvpImageFile::kMaxFrames);

    // A still again: no frame period.
    t.render({{"Pattern", "Nimbra-Test-Card"}});
    EXPECT_EQ(r->framePeriod.load(), 0);
    EXPECT_EQ(t.raster.bufferCount(), 1);
}

TEST_F(ImageFile, MoreFramesThanTheOutputHoldsShowTheFirst)
{
    // A raster that refuses more than two output frames.
    struct SmallRaster : TestRaster {
        SmallRaster() : TestRaster(64, 32, 10) {}
        bool setBufferCount(int32_t n) override { return n <= 2 && TestRaster::setBufferCount(n); }
    } raster;
    TempDir dir;
    writeSolidPng(dir.path / "S~0.png", 10, 0, 0);
    writeSolidPng(dir.path / "S~1.png", 20, 0, 0);
    writeSolidPng(dir.path / "S~2.png", 30, 0, 0);
    OvCore engine;
    engine.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    engine.scanFolder(dir.str().c_str(), "t/", false);
    QiParams p;
    p.set("Pattern", "t/S");
    OvPatternRenderer *r = engine.resolvePattern("t/S", p);
    ASSERT_NE(r, nullptr);
    r->render(&engine, &raster, p);
    EXPECT_EQ(raster.bufferCount(), 1);
    EXPECT_EQ(r->framePeriod.load(), 0);
    EXPECT_EQ(raster.green(raster.pixel(32, 16)), 0u);
    EXPECT_EQ(raster.red(raster.pixel(32, 16)), 40u);
    engine.shutdown();
}

TEST_F(ImageFile, ASequenceCyclesOnTheBoardEvery750Milliseconds)
{
    TempDir dir;
    const uint32_t levels[3] = {40, 120, 200};
    for (int i = 0; i < 3; ++i)
        writeSolidPng(dir.path / ("Seq~" + std::to_string(i) + ".png"), levels[i], levels[i], levels[i]);
    SimBoards::selectKona();
    KonaRaster raster;
    ASSERT_TRUE(raster.init());
    OvCore core;
    core.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    core.scanFolder(dir.str().c_str(), "t/", false);
    bool result;
    core.waitTransaction(core.postPattern("t/Seq"), result);

    // Which frame the board shows: the grey level at the centre, decoded
    // once per distinct picture (the middle row's bytes tell them apart),
    // so polling stays cheap.
    std::map<std::string, int> known;
    auto shown = [&]() {
        SimFrame frame;
        if (!SimBoards::outputFrame(frame) || frame.height < 2)
            return -1;
        // Bytes around the centre of the middle row (the picture is 8 x 8).
        const size_t row = static_cast<size_t>(frame.height / 2) * frame.rowBytes;
        const size_t from = std::min<size_t>(frame.rowBytes / 2 - 32, frame.rowBytes);
        const std::string key(reinterpret_cast<const char *>(frame.bytes.data() + row + from), 64);
        auto it = known.find(key);
        if (it != known.end())
            return it->second;
        QiSignalLayout layout;
        QiDecodedSignal dec, rgb;
        int index = -1;
        if (qiSignalLayoutFromName(frame.layout, layout) &&
            qiDecodeSignal(layout, frame.bytes.data(), frame.bytes.size(), frame.width, frame.height,
                           frame.rowBytes, dec) &&
            qiSignalToRgb(dec, raster.colourEncoding(), rgb)) {
            const size_t at = static_cast<size_t>(frame.height / 2) * static_cast<size_t>(frame.width) +
                              static_cast<size_t>(frame.width / 2);
            const int shift = 10 - rgb.bits;
            for (int i = 0; i < 3; ++i)
                if (std::abs(static_cast<int>(rgb.c1[at] << shift) - static_cast<int>(levels[i] << 2)) <= 8)
                    index = i;
        }
        known[key] = index;
        return index;
    };
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> changes;
    int last = -2;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 4000ms && changes.size() < 6) {
        const int f = shown();
        if (f != last) {
            changes.emplace_back(f, std::chrono::steady_clock::now());
            last = f;
        }
        std::this_thread::sleep_for(5ms);
    }
    core.shutdown();

    ASSERT_GE(changes.size(), 4u);
    std::vector<double> gaps;
    for (size_t i = 1; i < changes.size(); ++i) {
        ASSERT_GE(changes[i].first, 0) << "a frame that is none of the three";
        EXPECT_EQ(changes[i].first, (changes[i - 1].first + 1) % 3) << "frames out of order";
        if (i >= 2)
            gaps.push_back(std::chrono::duration<double, std::milli>(changes[i].second - changes[i - 1].second)
                               .count());
    }
    ASSERT_FALSE(gaps.empty());
    std::sort(gaps.begin(), gaps.end());
    const double median = gaps[gaps.size() / 2];
    // 750 ms apart; the render thread counts each period from the end of the
    // last wait, so a loaded machine (or a sanitizer build) stretches it a
    // little, never to nothing or to seconds.
    EXPECT_GT(median, 650.0);
    EXPECT_LT(median, 1500.0);
}
