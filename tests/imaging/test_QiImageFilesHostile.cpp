// Hostile image files: truncated files and lying headers of every kind give
// no image (or a bounded one) and never touch memory they should not.
#include "QiImage.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The decoders' detail lines for thousands of broken files are not wanted in
// the test log.
class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};
struct QuietLog {
    std::unique_ptr<QiOutput> previous = swapLogOutput(std::make_unique<Discard>());
    ~QuietLog() { swapLogOutput(std::move(previous)); }
};

std::vector<uint8_t> fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Scratch {
    fs::path path;
    Scratch()
    {
        std::string tmpl = (fs::temp_directory_path() / "ovhostile-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~Scratch() { fs::remove_all(path); }
    std::string file(const char *name) const { return (path / name).string(); }
};

void putBe32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
void putLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Rewrites the IHDR size of a PNG and fixes its CRC, so libpng sees a
// well-formed header that lies.
std::vector<uint8_t> pngWithSize(std::vector<uint8_t> png, uint32_t width, uint32_t height)
{
    putBe32(&png[16], width);
    putBe32(&png[20], height);
    uint32_t crc = static_cast<uint32_t>(crc32(0, &png[12], 17));
    putBe32(&png[29], crc);
    return png;
}

// Every length from 0 to the whole file, and every single-byte corruption
// of the first bytes: whatever the decoder answers, it must answer.
void shake(const std::vector<uint8_t> &file, const QiRawInfo *sidecar, size_t headerBytes)
{
    for (size_t n = 0; n <= file.size(); ++n) {
        auto image = loadImageFromMemory(file.data(), n, 8, sidecar);
        int32_t w, h;
        bool y;
        imageInfoFromMemory(file.data(), n, sidecar, w, h, y);
        if (image) {
            ASSERT_NE(image->data(), nullptr);
            ASSERT_LE(image->width(), kQiMaxImageSide);
        }
    }
    std::mt19937 rng(7);
    for (size_t i = 0; i < std::min(headerBytes, file.size()); ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(0xFF), static_cast<uint8_t>(rng())}) {
            std::vector<uint8_t> bad = file;
            bad[i] = v;
            auto image = loadImageFromMemory(bad.data(), bad.size(), 8, sidecar);
            if (image) {
                ASSERT_NE(image->data(), nullptr);
                ASSERT_LE(image->width(), kQiMaxImageSide);
                ASSERT_LE(image->height(), kQiMaxImageSide);
            }
        }
}

} // namespace

TEST(QiImageFilesHostile, OviHeadersMustMatchTheirData)
{
    QuietLog quiet;
    Scratch dir;
    QiImage small(4, 3, 10);
    small.fill(0x123456789ull);
    ASSERT_TRUE(small.saveOvi(dir.file("s.ovi").c_str()));
    const std::vector<uint8_t> good = fileBytes(dir.file("s.ovi"));
    ASSERT_TRUE(loadImageFromMemory(good.data(), good.size(), 8, nullptr));

    // One byte short of the promised pixels.
    EXPECT_FALSE(loadImageFromMemory(good.data(), good.size() - 1, 8, nullptr));

    auto variant = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> v = good;
        putLe32(&v[offset], value);
        return v;
    };
    for (uint32_t bpp : {0u, 4u, 16u, 0xFFFFFFFFu}) {
        auto v = variant(16, bpp);
        EXPECT_FALSE(loadImageFromMemory(v.data(), v.size(), 8, nullptr)) << bpp;
    }
    for (uint32_t bits : {0u, 22u, 64u, 0x80000000u}) {
        auto v = variant(20, bits);
        EXPECT_FALSE(loadImageFromMemory(v.data(), v.size(), 8, nullptr)) << bits;
    }
    // Sizes that overflow, are negative or beyond the side limit.
    for (uint32_t side : {0u, 16385u, 0x20000000u, 0x80000000u, 0xFFFFFFFFu}) {
        auto v = variant(4, side);
        EXPECT_FALSE(loadImageFromMemory(v.data(), v.size(), 8, nullptr)) << side;
        int32_t w, h;
        bool y;
        EXPECT_FALSE(imageInfoFromMemory(v.data(), v.size(), nullptr, w, h, y)) << side;
    }
    // Width and height whose product wraps 32 bits to something small.
    {
        auto v = variant(4, 0x10000);
        putLe32(&v[8], 0x10000);
        EXPECT_FALSE(loadImageFromMemory(v.data(), v.size(), 8, nullptr));
    }
    shake(good, nullptr, 24);
}

TEST(QiImageFilesHostile, PngTruncatedAndLyingHeaders)
{
    QuietLog quiet;
    Scratch dir;
    QiImage image(16, 9, 8);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixelRgb(x, y, x * 15, y * 28, 77);
    ASSERT_TRUE(image.savePng(dir.file("p.png").c_str()));
    const std::vector<uint8_t> good = fileBytes(dir.file("p.png"));
    ASSERT_TRUE(loadImageFromMemory(good.data(), good.size(), 8, nullptr));

    // A header claiming more rows than the data hold: the decoder runs out
    // of data and gives up.
    auto taller = pngWithSize(good, 16, 10);
    EXPECT_FALSE(loadImageFromMemory(taller.data(), taller.size(), 8, nullptr));
    for (uint32_t side : {16385u, 100000u, 0x7FFFFFFFu, 0x80000000u}) {
        auto wide = pngWithSize(good, side, 9);
        EXPECT_FALSE(loadImageFromMemory(wide.data(), wide.size(), 8, nullptr)) << side;
        int32_t w, h;
        bool y;
        EXPECT_FALSE(imageInfoFromMemory(wide.data(), wide.size(), nullptr, w, h, y)) << side;
    }
    // The largest accepted size with a few hundred bytes of data: refused
    // before 2 GiB of pixels are asked for, though the header alone is fine.
    auto huge = pngWithSize(good, 16384, 16384);
    EXPECT_FALSE(loadImageFromMemory(huge.data(), huge.size(), 8, nullptr));
    int32_t hw = 0, hh = 0;
    bool hy = true;
    EXPECT_TRUE(imageInfoFromMemory(huge.data(), huge.size(), nullptr, hw, hh, hy));
    EXPECT_EQ(hw, 16384);

    // Truncated anywhere before the closing 12-byte IEND chunk, including
    // inside the signature and the header: no image. Without IEND every
    // pixel is there and the image is kept.
    size_t images = 0;
    for (size_t n = 0; n < good.size() - 12; ++n)
        images += loadImageFromMemory(good.data(), n, 8, nullptr) != nullptr;
    EXPECT_EQ(images, 0u);
    shake(good, nullptr, 64);
}

TEST(QiImageFilesHostile, JpegTruncatedAndLyingFrameHeaders)
{
    QuietLog quiet;
    Scratch dir;
    QiImage image(24, 16, 8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            image.setPixelRgb(x, y, x * 10, y * 15, 128);
    ASSERT_TRUE(image.saveJpeg(dir.file("j.jpg").c_str(), 90));
    const std::vector<uint8_t> good = fileBytes(dir.file("j.jpg"));

    // Find the frame header and make it lie about the size.
    size_t sof = 0;
    for (size_t i = 2; i + 9 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_GT(sof, 0u);
    for (uint16_t side : {uint16_t(16385), uint16_t(65500), uint16_t(0)}) {
        std::vector<uint8_t> v = good;
        v[sof + 7] = static_cast<uint8_t>(side >> 8);
        v[sof + 8] = static_cast<uint8_t>(side);
        EXPECT_FALSE(loadImageFromMemory(v.data(), v.size(), 8, nullptr)) << side;
        int32_t w, h;
        bool y;
        EXPECT_FALSE(imageInfoFromMemory(v.data(), v.size(), nullptr, w, h, y)) << side;
    }
    // A larger but plausible claim decodes from the little data there is:
    // the missing rows read as the end of the image.
    {
        std::vector<uint8_t> v = good;
        v[sof + 5] = 0x01; // 256 + 16 rows
        auto tall = loadImageFromMemory(v.data(), v.size(), 8, nullptr);
        ASSERT_TRUE(tall);
        EXPECT_EQ(tall->height(), 272);
        EXPECT_EQ(tall->width(), 24);
    }
    shake(good, nullptr, 700);
}

TEST(QiImageFilesHostile, RawSidecarsThatLie)
{
    QuietLog quiet;
    std::vector<uint8_t> data(64, 0x42);
    auto load = [&](const char *text) {
        QiRawInfo info;
        EXPECT_TRUE(parseRawSidecar(text, std::strlen(text), info));
        return loadImageFromMemory(data.data(), data.size(), 8, &info);
    };
    EXPECT_FALSE(load("[RawData]\nWidth=-4\nHeight=2\nFourCC=RGB24\n"));
    EXPECT_FALSE(load("[RawData]\nWidth=100000\nHeight=2\nFourCC=RGB24\n"));
    EXPECT_FALSE(load("[RawData]\nWidth=99999999999999999999\nHeight=2\nFourCC=RGB24\n"));
    EXPECT_FALSE(load("[RawData]\nWidth=65536\nHeight=65536\nFourCC=UYVY\n"));
    EXPECT_FALSE(load("[RawData]\nWidth=abc\nHeight=2\nFourCC=RGB24\n"));
    // Plausible sizes with too little data are refused: the sidecar alone
    // cannot make the decoder commit memory the file does not fill.
    EXPECT_FALSE(load("[RawData]\nWidth=1000\nHeight=1000\nFourCC=RGB32\n"));
    auto exact = load("[RawData]\nWidth=4\nHeight=4\nFourCC=RGB32\n");
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->pixel(3, 3), exact->pack(0x42, 0x42, 0x42));

    // Unparsable or oversized sidecar files are not sidecars.
    Scratch dir;
    {
        std::ofstream(dir.file("x.raw"), std::ios::binary).write("\0\0\0\0", 4);
        std::ofstream side(dir.file("x.raw_data"), std::ios::binary);
        side << "[RawData]\nWidth=1\nHeight=1\nFourCC=RGB24\n" << std::string(70000, ';');
    }
    EXPECT_FALSE(loadImage(dir.file("x"), 8));
}
