// Image files: round trips through the writers, decoding by content, raw
// sidecars and the size probe.
#include "QiImage.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "ovfiles-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const char *name) const { return (path / name).string(); }
};

class CaptureOutput : public QiOutput {
public:
    explicit CaptureOutput(std::string &text) : m_text(text) {}
    bool write(const char *bytes, size_t length) override
    {
        m_text.append(bytes, length);
        return true;
    }

private:
    std::string &m_text;
};

struct LogCapture {
    std::string text;
    std::unique_ptr<QiOutput> previous;
    LogCapture() : previous(swapLogOutput(std::make_unique<CaptureOutput>(text))) {}
    ~LogCapture() { swapLogOutput(std::move(previous)); }
};

void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
void writeText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}
std::vector<uint8_t> readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A PNG written by libpng directly: rows of raw samples in the file's own
// layout, an optional palette and transparency chunk.
void writePng(const std::string &path, int width, int height, int colorType, int depth,
              const std::vector<std::vector<uint8_t>> &rows, const std::vector<png_color> &palette = {},
              const std::vector<uint8_t> &trnsAlpha = {}, const png_color_16 *trnsColor = nullptr,
              int interlace = PNG_INTERLACE_NONE)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_EQ(setjmp(png_jmpbuf(png)), 0);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, depth, colorType, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!trnsAlpha.empty() || trnsColor)
        png_set_tRNS(png, info, trnsAlpha.empty() ? nullptr : trnsAlpha.data(), static_cast<int>(trnsAlpha.size()),
                     trnsColor);
    png_write_info(png, info);
    // png_write_image makes every Adam7 pass itself.
    std::vector<png_bytep> pointers;
    for (const auto &row : rows)
        pointers.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

struct DecodedPng {
    uint32_t width = 0, height = 0;
    int depth = 0, colorType = 0, paletteEntries = 0;
    std::vector<uint8_t> rgb;
    std::vector<std::tuple<std::string, std::string, int>> texts;
};

DecodedPng readPngWithLibpng(const std::string &path)
{
    DecodedPng d;
    FILE *f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    if (!f)
        return d;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_infop endInfo = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng could not read " << path;
        png_destroy_read_struct(&png, &info, &endInfo);
        std::fclose(f);
        return d;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_get_IHDR(png, info, &d.width, &d.height, &d.depth, &d.colorType, nullptr, nullptr, nullptr);
    png_colorp palette = nullptr;
    if (png_get_PLTE(png, info, &palette, &d.paletteEntries) == 0)
        d.paletteEntries = 0;
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    for (uint32_t y = 0; y < d.height; ++y)
        png_read_row(png, d.rgb.data() + static_cast<size_t>(y) * d.width * 3, nullptr);
    png_read_end(png, endInfo);
    for (png_infop i : {info, endInfo}) {
        png_textp text = nullptr;
        int count = png_get_text(png, i, &text, nullptr);
        for (int k = 0; k < count; ++k)
            d.texts.emplace_back(text[k].key, text[k].text, text[k].compression);
    }
    png_destroy_read_struct(&png, &info, &endInfo);
    std::fclose(f);
    return d;
}

// A JPEG written by libjpeg directly; grey when components is 1.
void writeJpeg(const std::string &path, int width, int height, int components, bool progressive,
               const std::vector<uint8_t> &samples, int quality = 95, size_t appPadding = 0)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    // Application segments of 65000 bytes push the frame header further in.
    std::vector<uint8_t> padding(65000, 0x55);
    for (size_t left = appPadding; left > 0;) {
        size_t n = std::min(left, padding.size());
        jpeg_write_marker(&cinfo, JPEG_APP0 + 2, padding.data(), static_cast<unsigned>(n));
        left -= n;
    }
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + static_cast<size_t>(y) * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

std::vector<uint8_t> gradientRgb(int width, int height)
{
    std::vector<uint8_t> s;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            s.push_back(static_cast<uint8_t>(x * 255 / (width - 1)));
            s.push_back(static_cast<uint8_t>(y * 255 / (height - 1)));
            s.push_back(static_cast<uint8_t>(200 - x * 2));
        }
    return s;
}

uint64_t rgbAt(int bits, uint32_t r, uint32_t g, uint32_t b)
{
    return static_cast<uint64_t>(r) << (2 * bits) | static_cast<uint64_t>(g) << bits | b;
}

} // namespace

TEST(QiImageFiles, OviRoundTripKeepsWordsSizeBitsAndBlendMode)
{
    TempDir dir;
    QiImage image(5, 3, 10);
    image.setTextBlendMode(7);
    std::mt19937_64 rng(42);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, rng()); // whole words, bits above 30 included
    const std::string base = dir / "dump";
    ASSERT_TRUE(image.saveOvi((base + ".ovi").c_str()));

    std::vector<uint8_t> file = readBytes(base + ".ovi");
    ASSERT_EQ(file.size(), 24u + 5 * 3 * 8);
    EXPECT_EQ((std::vector<uint8_t>(file.begin(), file.begin() + 8)),
              (std::vector<uint8_t>{0x01, 0x49, 0x56, 0x4F, 5, 0, 0, 0}));
    EXPECT_EQ(file[16], 8);
    EXPECT_EQ(file[20], 10);
    EXPECT_EQ(file[24], static_cast<uint8_t>(image.pixel(0, 0))); // little-endian words

    auto loaded = loadImage(base, 8);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width(), 5);
    EXPECT_EQ(loaded->height(), 3);
    EXPECT_EQ(loaded->bits(), 10);
    EXPECT_EQ(loaded->textBlendMode(), 7);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(loaded->pixel(x, y), image.pixel(x, y)) << x << "," << y;

    EXPECT_FALSE(image.saveOvi((dir / "missing/dump.ovi").c_str()));
}

TEST(QiImageFiles, SavePngWritesEightBitRgbAndTheThreeTextChunks)
{
    TempDir dir;
    QiImage image(7, 4, 10);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            image.setPixelRgb(x, y, static_cast<uint32_t>(x * 146), static_cast<uint32_t>(y * 340 + 3), 1023 - x);
    const std::string path = dir / "snap.png";
    ASSERT_TRUE(image.savePng(path.c_str()));

    DecodedPng d = readPngWithLibpng(path);
    EXPECT_EQ(d.width, 7u);
    EXPECT_EQ(d.height, 4u);
    EXPECT_EQ(d.depth, 8);
    EXPECT_EQ(d.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(d.paletteEntries, 256);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x) {
            const uint8_t *p = &d.rgb[(static_cast<size_t>(y) * 7 + x) * 3];
            ASSERT_EQ(p[0], (x * 146) >> 2);
            ASSERT_EQ(p[1], (y * 340 + 3) >> 2);
            ASSERT_EQ(p[2], (1023 - x) >> 2);
        }
    using Text = std::tuple<std::string, std::string, int>;
    EXPECT_EQ(d.texts, (std::vector<Text>{{"Title", "QiImage Output", PNG_TEXT_COMPRESSION_NONE},
                                          {"Author", "Haldenworks", PNG_TEXT_COMPRESSION_NONE},
                                          {"Description", "<none>", PNG_TEXT_COMPRESSION_zTXt}}));

    // And back through the decoder at 8 bits.
    auto back = loadImage(dir / "snap", 8);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixel(6, 3), rgbAt(8, (6 * 146) >> 2, (3 * 340 + 3) >> 2, (1023 - 6) >> 2));
    EXPECT_FALSE(image.savePng((dir / "missing/snap.png").c_str()));
}

TEST(QiImageFiles, SaveJpegRoundTripsWithinJpegTolerance)
{
    TempDir dir;
    QiImage image(32, 16, 8);
    std::vector<uint8_t> ref = gradientRgb(32, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint8_t *p = &ref[(static_cast<size_t>(y) * 32 + x) * 3];
            image.setPixelRgb(x, y, p[0], p[1], p[2]);
        }
    ASSERT_TRUE(image.saveJpeg((dir / "shot.jpg").c_str(), 95));
    auto back = loadImage(dir / "shot", 10);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width(), 32);
    ASSERT_EQ(back->height(), 16);
    EXPECT_EQ(back->bits(), 10);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint64_t w = back->pixel(x, y);
            const uint8_t *p = &ref[(static_cast<size_t>(y) * 32 + x) * 3];
            uint32_t c[3] = {back->red(w), back->green(w), back->blue(w)};
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(c[k] & 3u, 0u); // 8-bit samples shifted to 10 bits
                worst = std::max(worst, std::abs(static_cast<int>(c[k] >> 2) - p[k]));
            }
        }
    // 4:2:0 chroma subsampling of the colour ramps costs a few codes.
    EXPECT_LE(worst, 12);

    LogCapture log;
    EXPECT_FALSE(image.saveJpeg((dir / "missing/shot.jpg").c_str(), 90));
    EXPECT_NE(log.text.find("can't open " + (dir / "missing/shot.jpg") + "\n"), std::string::npos) << log.text;
}

TEST(QiImageFiles, SuffixOrderAndDecodingByContent)
{
    TempDir dir;
    QiImage ovi(2, 2, 10);
    ovi.fill(rgbAt(10, 1, 2, 3));
    QiImage png(3, 3, 8);
    png.fill(rgbAt(8, 9, 9, 9));
    const std::string base = dir / "both";
    ASSERT_TRUE(ovi.saveOvi((base + ".ovi").c_str()));
    ASSERT_TRUE(png.savePng((base + ".png").c_str()));
    auto first = loadImage(base, 8);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width(), 2); // ".ovi" before ".png"

    fs::remove(base + ".ovi");
    auto second = loadImage(base, 8);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width(), 3);

    // The bare name is tried last and decoded by what it holds, whatever it
    // is called.
    fs::rename(base + ".png", base);
    auto bare = loadImage(base, 8);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->pixel(2, 2), rgbAt(8, 9, 9, 9));
    fs::rename(base, base + ".jpg");
    EXPECT_TRUE(loadImage(base, 8)); // PNG content under a JPEG name

    EXPECT_FALSE(loadImage(dir / "nothing", 8));
    EXPECT_FALSE(loadImage(base, 7)); // depths below 8 cannot hold the samples
    EXPECT_FALSE(loadImage(base, 22));
}

TEST(QiImageFiles, PngTransformsTransparencyPaletteGreyAndSixteenBit)
{
    TempDir dir;
    const int s = 2; // decoded at 10 bits
    // RGBA: a fully transparent pixel becomes (128, 160, 48); partial alpha
    // is not blended.
    writePng(dir / "rgba.png", 3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {{10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}});
    auto rgba = loadImage(dir / "rgba", 10);
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->pixel(0, 0), rgbAt(10, 128 << s, 160 << s, 48 << s));
    EXPECT_EQ(rgba->pixel(1, 0), rgbAt(10, 40 << s, 50 << s, 60 << s));
    EXPECT_EQ(rgba->pixel(2, 0), rgbAt(10, 70 << s, 80 << s, 90 << s));

    // Palette with a transparency chunk: entry 0 transparent.
    std::vector<png_color> palette = {{1, 2, 3}, {200, 100, 50}};
    writePng(dir / "pal.png", 2, 1, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1}}, palette, {0, 255});
    auto pal = loadImage(dir / "pal", 8);
    ASSERT_TRUE(pal);
    EXPECT_EQ(pal->pixel(0, 0), rgbAt(8, 128, 160, 48));
    EXPECT_EQ(pal->pixel(1, 0), rgbAt(8, 200, 100, 50));

    // 2-bit grey expands to 8 bits (3 -> 255, 1 -> 85) and to RGB.
    writePng(dir / "grey2.png", 4, 1, PNG_COLOR_TYPE_GRAY, 2, {{0b00011011}});
    auto grey2 = loadImage(dir / "grey2", 8);
    ASSERT_TRUE(grey2);
    EXPECT_EQ(grey2->pixel(0, 0), rgbAt(8, 0, 0, 0));
    EXPECT_EQ(grey2->pixel(1, 0), rgbAt(8, 85, 85, 85));
    EXPECT_EQ(grey2->pixel(3, 0), rgbAt(8, 255, 255, 255));

    // Grey with a transparent grey level.
    png_color_16 key{};
    key.gray = 7;
    writePng(dir / "greykey.png", 2, 1, PNG_COLOR_TYPE_GRAY, 8, {{7, 8}}, {}, {}, &key);
    auto greyKey = loadImage(dir / "greykey", 8);
    ASSERT_TRUE(greyKey);
    EXPECT_EQ(greyKey->pixel(0, 0), rgbAt(8, 128, 160, 48));
    EXPECT_EQ(greyKey->pixel(1, 0), rgbAt(8, 8, 8, 8));

    // Grey with alpha: widened to RGB like grey.
    writePng(dir / "ga.png", 3, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{50, 255, 60, 0, 70, 1}});
    auto ga = loadImage(dir / "ga", 10);
    ASSERT_TRUE(ga);
    EXPECT_EQ(ga->pixel(0, 0), rgbAt(10, 50 << s, 50 << s, 50 << s));
    EXPECT_EQ(ga->pixel(1, 0), rgbAt(10, 128 << s, 160 << s, 48 << s));
    EXPECT_EQ(ga->pixel(2, 0), rgbAt(10, 70 << s, 70 << s, 70 << s));

    // Adam7: every pass lands in place.
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < 7; ++y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < 9; ++x)
            row.insert(row.end(), {static_cast<uint8_t>(x * 20), static_cast<uint8_t>(y * 30), 99});
        rows.push_back(row);
    }
    writePng(dir / "adam7.png", 9, 7, PNG_COLOR_TYPE_RGB, 8, rows, {}, {}, nullptr, PNG_INTERLACE_ADAM7);
    auto adam7 = loadImage(dir / "adam7", 8);
    ASSERT_TRUE(adam7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(adam7->pixel(x, y), rgbAt(8, x * 20, y * 30, 99)) << x << "," << y;

    // 16-bit samples keep their high byte.
    writePng(dir / "deep.png", 1, 1, PNG_COLOR_TYPE_RGB, 16, {{0x12, 0xFF, 0xAB, 0x01, 0x00, 0x80}});
    auto deep = loadImage(dir / "deep", 8);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->pixel(0, 0), rgbAt(8, 0x12, 0xAB, 0x00));
}

TEST(QiImageFiles, JpegBaselineGreyAndProgressive)
{
    TempDir dir;
    // Grey baseline files decode to equal components.
    std::vector<uint8_t> grey(16 * 8, 0);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<uint8_t>(i * 2);
    writeJpeg(dir / "grey.jpg", 16, 8, 1, false, grey, 100);
    auto g = loadImage(dir / "grey", 8);
    ASSERT_TRUE(g);
    for (int x = 0; x < 16; ++x) {
        uint64_t w = g->pixel(x, 3);
        EXPECT_EQ(g->red(w), g->green(w));
        EXPECT_EQ(g->green(w), g->blue(w));
        EXPECT_NEAR(static_cast<int>(g->green(w)), grey[3 * 16 + x], 3);
    }

    // A progressive file is not taken for a JPEG, and without a sidecar it
    // is nothing at all.
    writeJpeg(dir / "prog.jpeg", 16, 8, 3, true, gradientRgb(16, 8));
    EXPECT_FALSE(loadImage(dir / "prog", 8));
    int32_t w = 0, h = 0;
    bool ycbcr = true;
    EXPECT_FALSE(imageInfo(dir / "prog.jpeg", w, h, ycbcr));

    // A file cut in half still decodes: the missing end reads as the end of
    // the image.
    writeJpeg(dir / "whole.jpg", 64, 64, 3, false, gradientRgb(64, 64));
    std::vector<uint8_t> bytes = readBytes(dir / "whole.jpg");
    bytes.resize(bytes.size() / 2);
    writeBytes(dir / "half.jpg", bytes);
    auto half = loadImage(dir / "half", 8);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width(), 64);
    EXPECT_EQ(half->height(), 64);
}

TEST(QiImageFiles, RawLayoutsFromTheSidecar)
{
    TempDir dir;
    // UYVY, lower case, under ".yuv": red holds the chroma sample, green the
    // luma, blue 0.
    writeBytes(dir / "cam.yuv", {10, 20, 30, 40, 11, 21, 31, 41, 12, 22, 32, 42, 13, 23, 33, 43});
    writeText(dir / "cam.raw_data", "\xEF\xBB\xBF; camera dump\n[RawData]\nWidth=4\nHeight=2\nFourCC=uyvy\n");
    auto uyvy = loadImage(dir / "cam", 10);
    ASSERT_TRUE(uyvy);
    ASSERT_EQ(uyvy->width(), 4);
    ASSERT_EQ(uyvy->height(), 2);
    EXPECT_EQ(uyvy->pixel(0, 0), rgbAt(10, 10 << 2, 20 << 2, 0));
    EXPECT_EQ(uyvy->pixel(1, 0), rgbAt(10, 30 << 2, 40 << 2, 0));
    EXPECT_EQ(uyvy->pixel(3, 0), rgbAt(10, 31 << 2, 41 << 2, 0));
    EXPECT_EQ(uyvy->pixel(2, 1), rgbAt(10, 13 << 2, 23 << 2, 0));

    const std::vector<uint8_t> yuyv = {1, 2, 3, 4, 5, 6, 7, 8};
    QiRawInfo info;
    info.width = 4;
    info.height = 1;
    info.fourCC = "yuy2";
    auto yuy2 = decodeRaw(yuyv.data(), yuyv.size(), info, 8);
    ASSERT_TRUE(yuy2);
    EXPECT_EQ(yuy2->pixel(0, 0), rgbAt(8, 2, 1, 0));
    EXPECT_EQ(yuy2->pixel(1, 0), rgbAt(8, 4, 3, 0));
    EXPECT_EQ(yuy2->pixel(3, 0), rgbAt(8, 8, 7, 0));

    // Odd widths take whole pairs: the second row starts after 4 bytes.
    info.width = 1;
    info.height = 2;
    auto odd = decodeRaw(yuyv.data(), yuyv.size(), info, 8);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->pixel(0, 1), rgbAt(8, 6, 5, 0));

    const std::vector<uint8_t> bgr = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    info = QiRawInfo{};
    info.width = 3;
    info.height = 1;
    info.fourCC = "RGB24";
    auto rgb24 = decodeRaw(bgr.data(), bgr.size(), info, 8);
    ASSERT_TRUE(rgb24);
    EXPECT_EQ(rgb24->pixel(0, 0), rgbAt(8, 3, 2, 1));
    EXPECT_EQ(rgb24->pixel(2, 0), rgbAt(8, 9, 8, 7));

    info.width = 2;
    info.fourCC = "rgb32";
    const std::vector<uint8_t> bgra = {1, 2, 3, 99, 4, 5, 6, 99};
    auto rgb32 = decodeRaw(bgra.data(), bgra.size(), info, 8);
    ASSERT_TRUE(rgb32);
    EXPECT_EQ(rgb32->pixel(1, 0), rgbAt(8, 6, 5, 4));

    // The picture must be in the data: one byte short is refused, and more
    // bytes than it needs are ignored.
    info.width = 2;
    info.height = 2;
    info.fourCC = "RGB24";
    {
        LogCapture shortLog;
        EXPECT_FALSE(decodeRaw(bgr.data(), 7, info, 8));
        std::vector<uint8_t> twelve(12, 9), longer(13, 9);
        EXPECT_FALSE(decodeRaw(twelve.data(), 11, info, 8));
        EXPECT_TRUE(decodeRaw(twelve.data(), 12, info, 8));
        EXPECT_TRUE(decodeRaw(longer.data(), 13, info, 8));
        EXPECT_NE(shortLog.text.find("Warning: QiImage::decodeRaw: 7 bytes hold no 2x2 RGB24 picture (12 bytes)\n"),
                  std::string::npos)
            << shortLog.text;
    }
    info.width = 3;
    info.height = 2;
    info.fourCC = "UYVY";
    std::vector<uint8_t> pairs(16, 7);
    EXPECT_FALSE(decodeRaw(pairs.data(), 15, info, 8)) << "odd widths take whole pairs: 8 bytes a row";
    EXPECT_TRUE(decodeRaw(pairs.data(), 16, info, 8));

    // AYUV (four bytes a pixel) is accepted without a byte layout; anything
    // else is refused.
    info.width = 2;
    info.height = 2;
    info.fourCC = "AYUV";
    std::vector<uint8_t> ayuvBytes(16, 5);
    EXPECT_FALSE(decodeRaw(ayuvBytes.data(), 15, info, 8));
    auto ayuv = decodeRaw(ayuvBytes.data(), ayuvBytes.size(), info, 8);
    ASSERT_TRUE(ayuv);
    EXPECT_EQ(ayuv->pixel(1, 1), 0u);
    LogCapture log;
    info.fourCC = "NV12";
    EXPECT_FALSE(decodeRaw(bgr.data(), bgr.size(), info, 8));
    EXPECT_NE(log.text.find("Warning: QiImage::decodeRaw: unsupported FourCC 'NV12'\n"), std::string::npos)
        << log.text;
}

TEST(QiImageFiles, SidecarRules)
{
    TempDir dir;
    EXPECT_EQ(rawSidecarPath("/a/b/frame.yuv"), "/a/b/frame.raw_data");
    EXPECT_EQ(rawSidecarPath("/a/b/frame"), "/a/b/frame.raw_data");
    EXPECT_EQ(rawSidecarPath("/a/b.v2/frame"), "/a/b.v2/frame.raw_data");
    EXPECT_EQ(rawSidecarPath("x.tar.raw"), "x.tar.raw_data");

    QiRawInfo info;
    const char text[] = "# comment\n[Other]\nWidth=9\n[RawData]\nWidth=0x10\nHeight=010\nFourCC=RGB24XYZ\n"
                        "Interlaced=TRUE\nTopDown=no\nColorspace=BT.709-extra\nLevels=Video\nPixelAspect=1:1\n";
    ASSERT_TRUE(parseRawSidecar(text, sizeof text - 1, info));
    EXPECT_EQ(info.width, 16);
    EXPECT_EQ(info.height, 8); // leading zero: octal
    EXPECT_EQ(info.fourCC, "RGB24");
    EXPECT_TRUE(info.interlaced);
    EXPECT_FALSE(info.topDown);
    EXPECT_EQ(info.colorspace, "BT.709-ex");
    EXPECT_EQ(info.levels, "Video");
    EXPECT_EQ(info.pixelAspect, "1:1");
    EXPECT_FALSE(info.ycbcr());

    ASSERT_TRUE(parseRawSidecar("[RawData]\nHeight=2\n", 19, info));
    EXPECT_TRUE(info.topDown);
    EXPECT_FALSE(info.valid());

    // Width=0 makes the raw file unreadable.
    writeBytes(dir / "flat.raw", std::vector<uint8_t>(24, 7));
    writeText(dir / "flat.raw_data", "[RawData]\nWidth=0\nHeight=2\nFourCC=RGB24\n");
    EXPECT_FALSE(loadImage(dir / "flat", 8));
    int32_t w = -1, h = -1;
    bool ycbcr = true;
    EXPECT_FALSE(imageInfo(dir / "flat.raw", w, h, ycbcr));
    writeText(dir / "flat.raw_data", "[RawData]\nWidth=4\nHeight=2\nFourCC=RGB24\n");
    EXPECT_TRUE(loadImage(dir / "flat", 8));
}

TEST(QiImageFiles, ImageInfoReadsHeadersOnly)
{
    TempDir dir;
    int32_t w = 0, h = 0;
    bool ycbcr = true;

    QiImage ovi(640, 3, 10);
    ASSERT_TRUE(ovi.saveOvi((dir / "a.ovi").c_str()));
    EXPECT_TRUE(imageInfo(dir / "a.ovi", w, h, ycbcr));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 3);
    EXPECT_FALSE(ycbcr);

    QiImage png(300, 2, 8);
    ASSERT_TRUE(png.savePng((dir / "b.png").c_str()));
    ycbcr = true;
    EXPECT_TRUE(imageInfo(dir / "b.png", w, h, ycbcr));
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 2);
    EXPECT_FALSE(ycbcr);

    writeJpeg(dir / "c.jpg", 24, 17, 3, false, gradientRgb(24, 17));
    EXPECT_TRUE(imageInfo(dir / "c.jpg", w, h, ycbcr));
    EXPECT_EQ(w, 24);
    EXPECT_EQ(h, 17);

    // Only the first 32768 bytes are read: a frame header behind a large
    // application segment is not found, though the file itself loads.
    writeJpeg(dir / "d.jpg", 24, 17, 3, false, gradientRgb(24, 17), 95, 40000);
    EXPECT_FALSE(imageInfo(dir / "d.jpg", w, h, ycbcr));
    EXPECT_TRUE(loadImage(dir / "d", 8));

    // A raw file must hold its picture; the probe knows the file's length
    // though it reads only the start.
    writeBytes(dir / "e.raw", std::vector<uint8_t>(720 * 486 * 3 - 1));
    writeText(dir / "e.raw_data", "[RawData]\nWidth=720\nHeight=486\nFourCC=RGB24\n");
    EXPECT_FALSE(imageInfo(dir / "e.raw", w, h, ycbcr));
    writeBytes(dir / "e.raw", std::vector<uint8_t>(720 * 486 * 3));
    ycbcr = true;
    EXPECT_TRUE(imageInfo(dir / "e.raw", w, h, ycbcr));
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 486);
    EXPECT_FALSE(ycbcr);
    writeText(dir / "e.raw_data", "[RawData]\nWidth=720\nHeight=486\nFourCC=YUY2\n");
    EXPECT_TRUE(imageInfo(dir / "e.raw", w, h, ycbcr));
    EXPECT_TRUE(ycbcr);
    writeText(dir / "e.raw_data", "[RawData]\nWidth=720\nHeight=486\n");
    EXPECT_TRUE(imageInfo(dir / "e.raw", w, h, ycbcr));
    EXPECT_TRUE(ycbcr); // any FourCC but the two RGB ones

    writeText(dir / "f.txt", "just text");
    EXPECT_FALSE(imageInfo(dir / "f.txt", w, h, ycbcr));
    EXPECT_FALSE(imageInfo(dir / "absent.png", w, h, ycbcr));
}
