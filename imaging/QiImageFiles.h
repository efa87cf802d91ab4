#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QiImage.h"

// Image files: ".ovi" dumps, PNG, baseline JPEG and raw pixel files with a
// "raw_data" sidecar. Decoders take untrusted data: every size is checked
// before use and a bad file gives no image, never a crash. No shared state;
// callable from any thread.

// Largest width or height any decoder accepts. A 16384 x 16384 image is
// already 2 GiB of pixel words; larger headers are treated as lies.
constexpr int32_t kQiMaxImageSide = 16384;

// The sidecar of a raw image (section "RawData").
struct QiRawInfo {
    int32_t width = 0;
    int32_t height = 0;
    std::string fourCC;      // up to 5 characters
    bool interlaced = false; // recorded only
    bool topDown = true;     // recorded only: rows are always top first
    std::string colorspace;  // up to 9 characters, recorded only
    std::string levels;      // up to 9 characters, recorded only
    std::string pixelAspect; // recorded only

    // Width and Height both non-zero.
    bool valid() const { return width != 0 && height != 0; }
    // Raw YCbCr samples (every FourCC but "RGB24" and "RGB32").
    bool ycbcr() const;
    // Bytes the picture takes in the file (0 for an unknown FourCC): a
    // shorter file is refused.
    uint64_t pictureBytes() const;
};

// Name of the sidecar: everything after the last "." of the file name
// replaced by "raw_data", or ".raw_data" appended when the name has no ".".
std::string rawSidecarPath(const std::string &imagePath);
// Parses sidecar text (INI, optional UTF-8 byte-order mark). False when the
// text cannot be parsed; validity is checked separately.
bool parseRawSidecar(const char *text, size_t length, QiRawInfo &info);
// Reads the sidecar of imagePath; false when it is missing, too large or
// unparsable.
bool readRawSidecar(const std::string &imagePath, QiRawInfo &info);

// Tries basePath + ".ovi", ".png", ".jpg", ".jpeg", ".raw", ".yuv" and ""
// in this order, reads the first regular file found and decodes it by
// content at bits per component (8..21). Null when nothing decodes.
std::unique_ptr<QiImage> loadImage(const std::string &basePath, int32_t bits);
// Decoding by content of a file already in memory; sidecar (may be null)
// stands for the file's sidecar when the content is not recognised.
std::unique_ptr<QiImage> loadImageFromMemory(const uint8_t *data, size_t length, int32_t bits,
                                             const QiRawInfo *sidecar);

// Width and height without decoding, from the first 32768 bytes of path;
// ycbcr is set for raw YCbCr files. False for unrecognised files, raw files
// without a valid sidecar and sizes no decoder would accept.
bool imageInfo(const std::string &path, int32_t &width, int32_t &height, bool &ycbcr);
bool imageInfoFromMemory(const uint8_t *data, size_t length, const QiRawInfo *sidecar, int32_t &width,
                         int32_t &height, bool &ycbcr);

// Raw pixels by the sidecar's FourCC ("YUY2", "UYVY", "RGB24", "RGB32",
// "AYUV", any case); rows top first. Null, with a warning, for any other
// FourCC or when length is less than the picture's bytes.
std::unique_ptr<QiImage> decodeRaw(const uint8_t *data, size_t length, const QiRawInfo &info, int32_t bits);

// The PNG that QiImage::savePng writes, into memory. False (png empty) for
// an image without pixels.
bool qiEncodePng(const QiImage &image, std::vector<uint8_t> &png);
// An sRGB PNG of width x height pixels of 8-bit R, G, B (rows of 3 * width
// bytes, top first) at zlib level 0..9. False (png empty) for sizes outside
// 1..kQiMaxImageSide.
bool qiEncodePngRgb8(const uint8_t *rgb, int32_t width, int32_t height, std::vector<uint8_t> &png, int level = 3);
