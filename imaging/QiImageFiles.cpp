// Image files: decoding by content, size probes, the raw sidecar, and the
// PNG, JPEG and ".ovi" writers of QiImage.
#include "QiImageFiles.h"

#include "QiAscii.h"
#include "QiImage.h"
#include "QiLog.h"
#include "QiParams.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

// Sidecars are read as bytes: no wide-character conversion is needed, and
// the parser is compiled in from its header.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
// jpeglib.h needs <cstdio> first; jerror.h after it.
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace {

constexpr uint32_t kOviMagic = 0x4F564901;
constexpr size_t kOviHeaderBytes = 24;
constexpr size_t kInfoProbeBytes = 32768;
// Sidecars are a handful of lines; anything larger is not one.
constexpr size_t kMaxSidecarBytes = 64 * 1024;
// No decoder uses more than an ".ovi" of the largest accepted size.
constexpr uint64_t kMaxFileBytes =
    kOviHeaderBytes + static_cast<uint64_t>(kQiMaxImageSide) * kQiMaxImageSide * 8;
const uint8_t kPngSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};

// What a file of a given length may make a decoder commit. Each 8 x 8 block
// of a baseline JPEG costs at least two bits (a one-bit DC code and a
// one-bit end of block), so its data describe at most 256 pixels per byte;
// a header claiming more would have libjpeg make up the rest: a JPEG under
// 64 KiB gives at most 16 Mi pixels (128 MiB of pixel words). Deflate
// describes far more (a 1-bit PNG some 8000 pixels per byte), so a PNG gets
// an allowance any frame up to 4096 x 2304 fits in, plus 128 pixels per
// byte of file: under 64 KiB at most 17.4 Mi pixels (139 MiB).
constexpr uint64_t kJpegPixelsPerDataByte = 256;
constexpr uint64_t kPngPixelsPerByte = 128;
constexpr uint64_t kPngFreePixels = uint64_t{4096} * 2304;
// libpng reads each ancillary chunk into a buffer of the size its header
// claims before reading its data, and a length over its chunk limit is only
// a warning: a tEXt chunk of a 1 KB file claiming 2 GB made it ask for 2 GB.
// No buffer libpng itself needs comes near this (rows of 16384 pixels of
// 8 bytes are 128 KiB; the pixels go to our own image), so larger requests
// are refused and the chunk is skipped or the decode fails.
constexpr png_alloc_size_t kPngChunkBytes = 8 * 1024 * 1024;
// libjpeg's own large buffers (the coefficients of a multi-scan file).
constexpr long kJpegMemoryLimit = 64L << 20;

// Decoded images are 8-bit samples shifted up to the requested depth; three
// components must fit the 64-bit word.
bool decodableBits(int32_t bits) { return bits >= 8 && bits <= 21; }
bool acceptedSize(int64_t width, int64_t height)
{
    return width >= 1 && height >= 1 && width <= kQiMaxImageSide && height <= kQiMaxImageSide;
}

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}
uint32_t be16(const uint8_t *p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
void putLe32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Reads at most limit bytes of a regular file. An empty file reads as empty.
bool readFile(const std::string &path, uint64_t limit, std::vector<uint8_t> &out, bool *tooLarge = nullptr)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::error_code ec;
    uint64_t size = std::filesystem::file_size(path, ec);
    if (ec)
        size = limit;
    if (tooLarge)
        *tooLarge = size > limit;
    size_t want = static_cast<size_t>(size < limit ? size : limit);
    try {
        out.resize(want);
    } catch (const std::bad_alloc &) {
        std::fclose(f);
        return false;
    }
    size_t got = want ? std::fread(out.data(), 1, want, f) : 0;
    out.resize(got);
    std::fclose(f);
    return true;
}

bool isRegularFile(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The first SOF0 segment of a JPEG stream: walks marker segments from
// offset 2 while more than 8 bytes remain, stepping one byte over anything
// that is not a marker.
bool findSof0(const uint8_t *data, size_t length, int32_t &width, int32_t &height)
{
    size_t pos = 2;
    while (length > pos && length - pos > 8) {
        if (data[pos] == 0xFF) {
            if (data[pos + 1] == 0xC0) {
                height = static_cast<int32_t>(be16(data + pos + 5));
                width = static_cast<int32_t>(be16(data + pos + 7));
                return true;
            }
            pos += be16(data + pos + 2) + 2;
        } else {
            ++pos;
        }
    }
    return false;
}

enum class Kind { Ovi, Png, Jpeg, Other };

Kind kindOf(const uint8_t *data, size_t length, int32_t &jpegWidth, int32_t &jpegHeight)
{
    if (length >= 4 && le32(data) == kOviMagic)
        return Kind::Ovi;
    if (length >= 8 && std::memcmp(data, kPngSignature, 8) == 0)
        return Kind::Png;
    if (length >= 2 && data[0] == 0xFF && data[1] == 0xD8 && findSof0(data, length, jpegWidth, jpegHeight))
        return Kind::Jpeg;
    return Kind::Other;
}

// ".ovi": the header must say 8 bytes per pixel and the file must hold every
// pixel word it promises.
std::unique_ptr<QiImage> decodeOvi(const uint8_t *data, size_t length)
{
    if (length < kOviHeaderBytes)
        return nullptr;
    int32_t width = static_cast<int32_t>(le32(data + 4));
    int32_t height = static_cast<int32_t>(le32(data + 8));
    int32_t blendMode = static_cast<int32_t>(le32(data + 12));
    uint32_t bytesPerPixel = le32(data + 16);
    int32_t bits = static_cast<int32_t>(le32(data + 20));
    if (bytesPerPixel != 8 || !acceptedSize(width, height) || bits < 1 || bits > 21)
        return nullptr;
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if ((length - kOviHeaderBytes) / 8 < count)
        return nullptr;
    auto image = std::make_unique<QiImage>(width, height, bits);
    if (!image->data())
        return nullptr;
    image->setTextBlendMode(blendMode);
    const uint8_t *src = data + kOviHeaderBytes;
    uint64_t *dst = image->data();
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, src, count * 8);
    } else {
        for (size_t i = 0; i < count; ++i)
            dst[i] = static_cast<uint64_t>(le32(src + 8 * i)) | static_cast<uint64_t>(le32(src + 8 * i + 4)) << 32;
    }
    return image;
}

// ---- PNG ----

struct PngSource {
    const uint8_t *data;
    size_t length;
    size_t pos;
};

void pngRead(png_structp png, png_bytep out, size_t count)
{
    auto *src = static_cast<PngSource *>(png_get_io_ptr(png));
    if (count > src->length - src->pos)
        png_error(png, "unexpected end of data");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

[[noreturn]] void pngFail(png_structp png, png_const_charp message)
{
    qiLog(3, "loadImage: PNG: %s\n", message);
    png_longjmp(png, 1);
}

[[noreturn]] void pngWriteFail(png_structp png, png_const_charp message)
{
    qiLog(1, "QiImage::savePng: %s\n", message);
    png_longjmp(png, 1);
}

void pngQuiet(png_structp, png_const_charp) {}

png_voidp pngAlloc(png_structp, png_alloc_size_t size)
{
    return size <= kPngChunkBytes ? std::malloc(size) : nullptr;
}

void pngFree(png_structp, png_voidp p) { std::free(p); }

// Everything that outlives a longjmp lives here, outside the function that
// calls setjmp.
struct PngDecode {
    PngSource source;
    int32_t bits;
    std::unique_ptr<QiImage> image;
    std::vector<png_bytep> rows;
};

// Rows of B, G, R, A bytes decoded into the front of each pixel row are
// widened in place, last pixel first, so no second frame-sized buffer is
// needed.
void widenBgraRows(QiImage &image)
{
    const int32_t shift = image.bits() - 8;
    const uint64_t transparent = image.pack(128u << shift, 160u << shift, 48u << shift);
    for (int32_t y = 0; y < image.height(); ++y) {
        uint64_t *words = image.row(y);
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(words);
        for (int32_t x = image.width() - 1; x >= 0; --x) {
            const uint8_t *p = bytes + 4 * static_cast<size_t>(x);
            uint32_t b = p[0], g = p[1], r = p[2], a = p[3];
            words[x] = a == 0 ? transparent : image.pack(r << shift, g << shift, b << shift);
        }
    }
}

bool decodePngCore(PngDecode *d)
{
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngQuiet, nullptr,
                                               pngAlloc, pngFree);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &d->source, pngRead);
    png_set_user_limits(png, kQiMaxImageSide, kQiMaxImageSide);
    png_set_chunk_malloc_max(png, kPngChunkBytes);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
    if (!acceptedSize(width, height))
        png_error(png, "image too large");
    // Deflate expands at most about 1032:1, so a header whose rows could not
    // come out of the bytes that follow it is a lie; refuse it before the
    // pixel array is allocated rather than after.
    const uint64_t inflated = static_cast<uint64_t>(height) * (png_get_rowbytes(png, info) + 1);
    if (static_cast<uint64_t>(d->source.length - d->source.pos) * 1100 < inflated)
        png_error(png, "not enough data for the image size");
    if (static_cast<uint64_t>(width) * height > kPngFreePixels + kPngPixelsPerByte * d->source.length) {
        qiLog(1, "loadImage: PNG: %ux%u pixels from %zu bytes of file, refused\n", static_cast<unsigned>(width),
              static_cast<unsigned>(height), d->source.length);
        png_error(png, "more pixels than the file's size allows");
    }

    if (depth == 16)
        png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    // Grey with alpha is widened like plain grey; left as two samples per
    // pixel it would not match the four-byte rows read below.
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (depth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (trns)
        png_set_tRNS_to_alpha(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !trns)
        png_set_filler(png, 0x10, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4 || png_get_bit_depth(png, info) != 8)
        png_error(png, "unexpected row layout");

    // Rows are committed as libpng delivers them; a stream that ends early
    // is refused before the rest of the picture costs anything.
    d->image = std::make_unique<QiImage>(static_cast<int32_t>(width), static_cast<int32_t>(height), d->bits,
                                         QiImage::Unfilled{});
    if (!d->image->data())
        png_error(png, "no memory for the image");
    d->rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        d->rows[y] = reinterpret_cast<png_bytep>(d->image->row(static_cast<int32_t>(y)));
    png_read_image(png, d->rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    widenBgraRows(*d->image);
    return true;
}

std::unique_ptr<QiImage> decodePng(const uint8_t *data, size_t length, int32_t bits)
{
    PngDecode d{{data, length, 0}, bits, nullptr, {}};
    if (!decodePngCore(&d))
        return nullptr;
    return std::move(d.image);
}

// ---- JPEG ----

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    const char *where;
    int level;
};

[[noreturn]] void jpegFail(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<JpegError *>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    qiLog(err->level, "%s: %s\n", err->where, message);
    std::longjmp(err->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

// Out of data: hand the decoder an end-of-image marker, as a file that ends
// early would, and let it warn.
boolean jpegFillInput(j_decompress_ptr cinfo)
{
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void jpegSkipInput(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr *src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
        jpegFillInput(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

struct JpegDecode {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_source_mgr source;
    int32_t bits;
    std::unique_ptr<QiImage> image;
};

bool decodeJpegCore(JpegDecode *d, const uint8_t *data, size_t length)
{
    d->cinfo.err = jpeg_std_error(&d->err.pub);
    d->err.pub.error_exit = jpegFail;
    d->err.pub.output_message = jpegQuiet;
    d->err.where = "loadImage: JPEG";
    d->err.level = 3;
    if (setjmp(d->err.jump)) {
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = kJpegMemoryLimit;
    d->source.next_input_byte = data;
    d->source.bytes_in_buffer = length;
    d->source.init_source = jpegInitSource;
    d->source.fill_input_buffer = jpegFillInput;
    d->source.skip_input_data = jpegSkipInput;
    d->source.resync_to_restart = jpeg_resync_to_restart;
    d->source.term_source = jpegTermSource;
    d->cinfo.src = &d->source;

    if (jpeg_read_header(&d->cinfo, TRUE) != JPEG_HEADER_OK || d->cinfo.progressive_mode ||
        d->cinfo.arith_code || !acceptedSize(d->cinfo.image_width, d->cinfo.image_height)) {
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    // The header read, the source stands at the scan data. A frame larger
    // than those bytes can describe is a lie (libjpeg would fill it in).
    const size_t scanBytes = d->source.next_input_byte == kEndOfImage ? 0 : d->source.bytes_in_buffer;
    const uint64_t pixels = static_cast<uint64_t>(d->cinfo.image_width) * d->cinfo.image_height;
    if (pixels > kJpegPixelsPerDataByte * scanBytes) {
        qiLog(1, "loadImage: JPEG: %ux%u pixels from %zu bytes of scan data, refused\n",
              static_cast<unsigned>(d->cinfo.image_width), static_cast<unsigned>(d->cinfo.image_height), scanBytes);
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    // Grey files come out as RGB too, so every scanline holds three samples.
    d->cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d->cinfo);
    if (d->cinfo.output_components != 3 || !acceptedSize(d->cinfo.output_width, d->cinfo.output_height)) {
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    const int32_t width = static_cast<int32_t>(d->cinfo.output_width);
    const int32_t height = static_cast<int32_t>(d->cinfo.output_height);
    d->image = std::make_unique<QiImage>(width, height, d->bits, QiImage::Unfilled{});
    if (!d->image->data()) {
        jpeg_destroy_decompress(&d->cinfo);
        return false;
    }
    const int32_t shift = d->bits - 8;
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        int32_t y = static_cast<int32_t>(d->cinfo.output_scanline);
        uint64_t *words = d->image->row(y);
        // R, G, B bytes land in the front of the row and are widened in
        // place, last pixel first.
        JSAMPROW line = reinterpret_cast<JSAMPROW>(words);
        if (jpeg_read_scanlines(&d->cinfo, &line, 1) != 1)
            break;
        for (int32_t x = width - 1; x >= 0; --x) {
            const uint8_t *p = line + 3 * static_cast<size_t>(x);
            uint32_t r = p[0], g = p[1], b = p[2];
            words[x] = d->image->pack(r << shift, g << shift, b << shift);
        }
    }
    for (int32_t y = static_cast<int32_t>(d->cinfo.output_scanline); y < height; ++y)
        std::fill_n(d->image->row(y), width, uint64_t{0});
    jpeg_destroy_decompress(&d->cinfo);
    return true;
}

std::unique_ptr<QiImage> decodeJpeg(const uint8_t *data, size_t length, int32_t bits)
{
    auto d = std::make_unique<JpegDecode>();
    d->bits = bits;
    if (!decodeJpegCore(d.get(), data, length))
        return nullptr;
    return std::move(d->image);
}

bool sameText(const std::string &a, const char *b) { return qiEqualsIgnoreCase(a, b); }

// Decimal, 0x hexadecimal or leading-0 octal; beyond 32 bits it saturates.
int32_t parseSidecarInt(const char *text) { return text ? QiParams::parseInt(text) : 0; }

} // namespace

bool QiRawInfo::ycbcr() const { return !sameText(fourCC, "RGB32") && !sameText(fourCC, "RGB24"); }

uint64_t QiRawInfo::pictureBytes() const
{
    if (width <= 0 || height <= 0)
        return 0;
    uint64_t row = 0;
    if (sameText(fourCC, "YUY2") || sameText(fourCC, "UYVY"))
        row = (static_cast<uint64_t>(width) + 1) / 2 * 4; // whole pairs
    else if (sameText(fourCC, "RGB24"))
        row = 3 * static_cast<uint64_t>(width);
    else if (sameText(fourCC, "RGB32") || sameText(fourCC, "AYUV"))
        row = 4 * static_cast<uint64_t>(width);
    return row * static_cast<uint64_t>(height);
}

std::string rawSidecarPath(const std::string &imagePath)
{
    // Only the file name's own "." counts: "shots.v2/frame" gets
    // "shots.v2/frame.raw_data".
    size_t slash = imagePath.find_last_of('/');
    size_t dot = imagePath.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return imagePath + ".raw_data";
    return imagePath.substr(0, dot + 1) + "raw_data";
}

bool parseRawSidecar(const char *text, size_t length, QiRawInfo &info)
{
    CSimpleIniA ini;
    if (ini.LoadData(text, length) < 0)
        return false;
    const char *section = "RawData";
    info = QiRawInfo{};
    info.width = parseSidecarInt(ini.GetValue(section, "Width", nullptr));
    info.height = parseSidecarInt(ini.GetValue(section, "Height", nullptr));
    info.fourCC = std::string(ini.GetValue(section, "FourCC", "")).substr(0, 5);
    const char *interlaced = ini.GetValue(section, "Interlaced", nullptr);
    info.interlaced = interlaced && qiEqualsIgnoreCase(interlaced, "true");
    const char *topDown = ini.GetValue(section, "TopDown", nullptr);
    info.topDown = !topDown || qiEqualsIgnoreCase(topDown, "true");
    info.colorspace = std::string(ini.GetValue(section, "Colorspace", "")).substr(0, 9);
    info.levels = std::string(ini.GetValue(section, "Levels", "")).substr(0, 9);
    info.pixelAspect = ini.GetValue(section, "PixelAspect", "");
    return true;
}

bool readRawSidecar(const std::string &imagePath, QiRawInfo &info)
{
    std::string path = rawSidecarPath(imagePath);
    if (!isRegularFile(path))
        return false;
    std::vector<uint8_t> text;
    bool tooLarge = false;
    if (!readFile(path, kMaxSidecarBytes, text, &tooLarge) || tooLarge)
        return false;
    return parseRawSidecar(reinterpret_cast<const char *>(text.data()), text.size(), info);
}

std::unique_ptr<QiImage> decodeRaw(const uint8_t *data, size_t length, const QiRawInfo &info, int32_t bits)
{
    enum class Layout { Yuy2, Uyvy, Rgb24, Rgb32, Ayuv } layout;
    if (sameText(info.fourCC, "YUY2"))
        layout = Layout::Yuy2;
    else if (sameText(info.fourCC, "UYVY"))
        layout = Layout::Uyvy;
    else if (sameText(info.fourCC, "RGB24"))
        layout = Layout::Rgb24;
    else if (sameText(info.fourCC, "RGB32"))
        layout = Layout::Rgb32;
    else if (sameText(info.fourCC, "AYUV"))
        layout = Layout::Ayuv;
    else {
        qiLog(1, "%s: unsupported FourCC '%s'\n", "QiImage::decodeRaw", info.fourCC.c_str());
        return nullptr;
    }
    if (!decodableBits(bits) || !acceptedSize(info.width, info.height))
        return nullptr;
    // The picture must be in the file: a sidecar alone cannot make the
    // decoder commit memory the data never fill.
    const uint64_t need = info.pictureBytes();
    if (length < need) {
        qiLog(1, "%s: %zu bytes hold no %dx%d %s picture (%llu bytes)\n", "QiImage::decodeRaw", length, info.width,
              info.height, info.fourCC.c_str(), static_cast<unsigned long long>(need));
        return nullptr;
    }
    auto image = std::make_unique<QiImage>(info.width, info.height, bits);
    if (!image->data())
        return nullptr;
    // AYUV has no defined byte layout: the image keeps its zeroed content.
    if (layout == Layout::Ayuv)
        return image;

    const int32_t shift = bits - 8;
    const int32_t width = info.width;
    const uint8_t *p = data;
    size_t left = length;
    for (int32_t y = 0; y < info.height; ++y) {
        uint64_t *row = image->row(y);
        switch (layout) {
        case Layout::Yuy2:
        case Layout::Uyvy: {
            // Two pixels per step; an odd width still takes the whole
            // group and drops the pixel past the edge.
            const bool yuy2 = layout == Layout::Yuy2;
            for (int32_t x = 0; x < width; x += 2) {
                if (left < 4)
                    return image;
                uint32_t y0 = yuy2 ? p[0] : p[1], u = yuy2 ? p[1] : p[0];
                uint32_t y1 = yuy2 ? p[2] : p[3], v = yuy2 ? p[3] : p[2];
                row[x] = image->pack(u << shift, y0 << shift, 0);
                if (x + 1 < width)
                    row[x + 1] = image->pack(v << shift, y1 << shift, 0);
                p += 4;
                left -= 4;
            }
            break;
        }
        case Layout::Rgb24:
        case Layout::Rgb32: {
            const size_t step = layout == Layout::Rgb24 ? 3 : 4;
            for (int32_t x = 0; x < width; ++x) {
                if (left < step)
                    return image;
                row[x] = image->pack(static_cast<uint32_t>(p[2]) << shift, static_cast<uint32_t>(p[1]) << shift,
                                     static_cast<uint32_t>(p[0]) << shift);
                p += step;
                left -= step;
            }
            break;
        }
        case Layout::Ayuv:
            break;
        }
    }
    return image;
}

std::unique_ptr<QiImage> loadImageFromMemory(const uint8_t *data, size_t length, int32_t bits,
                                             const QiRawInfo *sidecar)
{
    if (!decodableBits(bits)) {
        qiLog(1, "loadImage: %d bits per component cannot be decoded\n", bits);
        return nullptr;
    }
    int32_t w = 0, h = 0;
    switch (kindOf(data, length, w, h)) {
    case Kind::Ovi:
        return decodeOvi(data, length);
    case Kind::Png:
        return decodePng(data, length, bits);
    case Kind::Jpeg:
        return decodeJpeg(data, length, bits);
    case Kind::Other:
        break;
    }
    if (sidecar && sidecar->valid())
        return decodeRaw(data, length, *sidecar, bits);
    return nullptr;
}

std::unique_ptr<QiImage> loadImage(const std::string &basePath, int32_t bits)
{
    static const char *const suffixes[] = {".ovi", ".png", ".jpg", ".jpeg", ".raw", ".yuv", ""};
    for (const char *suffix : suffixes) {
        std::string path = basePath + suffix;
        if (!isRegularFile(path))
            continue;
        std::vector<uint8_t> data;
        if (!readFile(path, kMaxFileBytes, data))
            return nullptr;
        int32_t w = 0, h = 0;
        QiRawInfo sidecar;
        const bool haveSidecar =
            kindOf(data.data(), data.size(), w, h) == Kind::Other && readRawSidecar(path, sidecar);
        return loadImageFromMemory(data.data(), data.size(), bits, haveSidecar ? &sidecar : nullptr);
    }
    return nullptr;
}

namespace {

// Header probe shared by the file and memory forms; the sidecar is asked for
// only when the content is not recognised.
template <class SidecarFn>
bool probeInfo(const uint8_t *data, size_t length, uint64_t fileLength, SidecarFn sidecarFn, int32_t &width,
               int32_t &height, bool &ycbcr)
{
    int32_t w = 0, h = 0;
    ycbcr = false;
    switch (kindOf(data, length, w, h)) {
    case Kind::Ovi:
        if (length < kOviHeaderBytes || le32(data + 16) != 8)
            return false;
        w = static_cast<int32_t>(le32(data + 4));
        h = static_cast<int32_t>(le32(data + 8));
        break;
    case Kind::Png:
        if (length < 24)
            return false;
        // Beyond INT32_MAX the value is out of range either way.
        w = static_cast<int32_t>(std::min<uint32_t>(be32(data + 16), INT32_MAX));
        h = static_cast<int32_t>(std::min<uint32_t>(be32(data + 20), INT32_MAX));
        break;
    case Kind::Jpeg:
        break;
    case Kind::Other: {
        const QiRawInfo *info = sidecarFn();
        if (!info || !info->valid() || fileLength < info->pictureBytes())
            return false;
        w = info->width;
        h = info->height;
        ycbcr = info->ycbcr();
        break;
    }
    }
    if (!acceptedSize(w, h)) {
        ycbcr = false;
        return false;
    }
    width = w;
    height = h;
    return true;
}

} // namespace

bool imageInfoFromMemory(const uint8_t *data, size_t length, const QiRawInfo *sidecar, int32_t &width,
                         int32_t &height, bool &ycbcr)
{
    return probeInfo(data, length, length, [sidecar] { return sidecar; }, width, height, ycbcr);
}

bool imageInfo(const std::string &path, int32_t &width, int32_t &height, bool &ycbcr)
{
    std::vector<uint8_t> head;
    ycbcr = false;
    if (!isRegularFile(path) || !readFile(path, kInfoProbeBytes, head))
        return false;
    QiRawInfo sidecar;
    auto sidecarFn = [&]() -> const QiRawInfo * { return readRawSidecar(path, sidecar) ? &sidecar : nullptr; };
    std::error_code ec;
    const uint64_t fileLength = std::filesystem::file_size(path, ec);
    return probeInfo(head.data(), head.size(), ec ? head.size() : fileLength, sidecarFn, width, height, ycbcr);
}

// ---- Writers ----

namespace {

// One output row of 8-bit R, G, B samples.
void rowToRgb8(const QiImage &image, int32_t y, uint8_t *out)
{
    const int32_t bits = image.bits();
    const uint64_t *row = image.row(y);
    auto to8 = [bits](uint32_t c) -> uint8_t {
        return static_cast<uint8_t>(bits >= 8 ? c >> (bits - 8) : c << (8 - bits));
    };
    for (int32_t x = 0; x < image.width(); ++x) {
        uint64_t w = row[x];
        out[3 * x] = to8(image.red(w));
        out[3 * x + 1] = to8(image.green(w));
        out[3 * x + 2] = to8(image.blue(w));
    }
}

bool writablePixels(const QiImage &image)
{
    return image.data() && image.width() > 0 && image.height() > 0 && image.bits() >= 1 && image.bits() <= 21;
}

struct PngWrite {
    FILE *file;
    const QiImage *image;
    std::vector<uint8_t> line;
    // Without a file the PNG goes here.
    std::vector<uint8_t> *memory = nullptr;
};

void pngToMemory(png_structp png, png_bytep data, size_t length)
{
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void pngFlushMemory(png_structp) {}

bool savePngCore(PngWrite *w)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngWriteFail, pngQuiet);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    if (w->memory)
        png_set_write_fn(png, w->memory, pngToMemory, pngFlushMemory);
    else
        png_init_io(png, w->file);
    const QiImage &image = *w->image;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()), static_cast<png_uint_32>(image.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    // Suggested palette for viewers with 256 colours: a grey ramp.
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i].red = palette[i].green = palette[i].blue = static_cast<png_byte>(i);
    png_set_PLTE(png, info, palette, 256);

    char title[] = "Title", titleText[] = "QiImage Output";
    char author[] = "Author", authorText[] = "Haldenworks";
    char description[] = "Description", descriptionText[] = "<none>";
    png_text text[3] = {};
    text[0].compression = PNG_TEXT_COMPRESSION_NONE;
    text[0].key = title;
    text[0].text = titleText;
    text[1].compression = PNG_TEXT_COMPRESSION_NONE;
    text[1].key = author;
    text[1].text = authorText;
    text[2].compression = PNG_TEXT_COMPRESSION_zTXt;
    text[2].key = description;
    text[2].text = descriptionText;
    png_set_text(png, info, text, 3);

    png_write_info(png, info);
    if (static_cast<uint64_t>(image.height()) >= (uint64_t{1} << 30))
        png_error(png, "Image is too tall to process in memory");
    for (int32_t y = 0; y < image.height(); ++y) {
        rowToRgb8(image, y, w->line.data());
        png_write_row(png, w->line.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct PngRgbWrite {
    const uint8_t *rgb;
    int32_t width, height;
    int level;
    std::vector<uint8_t> *out;
};

bool encodePngRgbCore(PngRgbWrite *w)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngWriteFail, pngQuiet);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, w->out, pngToMemory, pngFlushMemory);
    png_set_compression_level(png, w->level);
    // Pictures of flat areas and steps: the Sub filter alone packs them
    // nearly as tight as trying every filter, at a fraction of the time.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w->width), static_cast<png_uint_32>(w->height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(w->width) * 3;
    for (int32_t y = 0; y < w->height; ++y)
        png_write_row(png, const_cast<png_bytep>(w->rgb + static_cast<size_t>(y) * stride));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct JpegWrite {
    jpeg_compress_struct cinfo;
    JpegError err;
    FILE *file;
    const QiImage *image;
    int quality;
    std::vector<uint8_t> line;
};

bool saveJpegCore(JpegWrite *w)
{
    w->cinfo.err = jpeg_std_error(&w->err.pub);
    w->err.pub.error_exit = jpegFail;
    w->err.pub.output_message = jpegQuiet;
    w->err.where = "QiImage::saveJpeg";
    w->err.level = 1;
    if (setjmp(w->err.jump)) {
        jpeg_destroy_compress(&w->cinfo);
        return false;
    }
    jpeg_create_compress(&w->cinfo);
    jpeg_stdio_dest(&w->cinfo, w->file);
    w->cinfo.image_width = static_cast<JDIMENSION>(w->image->width());
    w->cinfo.image_height = static_cast<JDIMENSION>(w->image->height());
    w->cinfo.input_components = 3;
    w->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w->cinfo);
    jpeg_set_quality(&w->cinfo, w->quality, TRUE);
    jpeg_start_compress(&w->cinfo, TRUE);
    while (w->cinfo.next_scanline < w->cinfo.image_height) {
        rowToRgb8(*w->image, static_cast<int32_t>(w->cinfo.next_scanline), w->line.data());
        JSAMPROW row = w->line.data();
        jpeg_write_scanlines(&w->cinfo, &row, 1);
    }
    jpeg_finish_compress(&w->cinfo);
    jpeg_destroy_compress(&w->cinfo);
    return true;
}

} // namespace

bool QiImage::savePng(const char *path)
{
    if (!writablePixels(*this))
        return false;
    FILE *file = std::fopen(path, "wb");
    if (!file)
        return false;
    PngWrite w{file, this, std::vector<uint8_t>(static_cast<size_t>(m_width) * 3)};
    bool ok = savePngCore(&w);
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

bool qiEncodePng(const QiImage &image, std::vector<uint8_t> &png)
{
    png.clear();
    if (!writablePixels(image))
        return false;
    PngWrite w{nullptr, &image, std::vector<uint8_t>(static_cast<size_t>(image.width()) * 3), &png};
    if (savePngCore(&w))
        return true;
    png.clear();
    return false;
}

bool qiEncodePngRgb8(const uint8_t *rgb, int32_t width, int32_t height, std::vector<uint8_t> &png, int level)
{
    png.clear();
    if (!rgb || width < 1 || height < 1 || width > kQiMaxImageSide || height > kQiMaxImageSide)
        return false;
    PngRgbWrite w{rgb, width, height, level < 0 ? 0 : level > 9 ? 9 : level, &png};
    if (encodePngRgbCore(&w))
        return true;
    png.clear();
    return false;
}

bool QiImage::saveJpeg(const char *path, int quality)
{
    FILE *file = std::fopen(path, "wb");
    if (!file) {
        qiLog(2, "can't open %s\n", path);
        return false;
    }
    bool ok = false;
    if (writablePixels(*this)) {
        auto w = std::make_unique<JpegWrite>();
        w->file = file;
        w->image = this;
        w->quality = quality;
        w->line.resize(static_cast<size_t>(m_width) * 3);
        ok = saveJpegCore(w.get());
    }
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

bool QiImage::saveOvi(const char *path)
{
    if (!m_data || m_width < 0 || m_height < 0)
        return false;
    FILE *file = std::fopen(path, "wb");
    if (!file)
        return false;
    uint8_t header[kOviHeaderBytes];
    putLe32(header, kOviMagic);
    putLe32(header + 4, static_cast<uint32_t>(m_width));
    putLe32(header + 8, static_cast<uint32_t>(m_height));
    putLe32(header + 12, static_cast<uint32_t>(m_textBlendMode));
    putLe32(header + 16, 8);
    putLe32(header + 20, static_cast<uint32_t>(m_bits));
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    const size_t count = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    if constexpr (std::endian::native == std::endian::little) {
        ok = ok && std::fwrite(m_data, 8, count, file) == count;
    } else {
        uint8_t word[8];
        for (size_t i = 0; ok && i < count; ++i) {
            putLe32(word, static_cast<uint32_t>(m_data[i]));
            putLe32(word + 4, static_cast<uint32_t>(m_data[i] >> 32));
            ok = std::fwrite(word, 1, 8, file) == 8;
        }
    }
    // A full disk shows up at close at the latest.
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}
