#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The byte layouts the simulated boards output, and their decoding back into
// component values (round-trip tests, capture files, the monitor window).
//
// Which encoder call produces which layout (QiImageCoder):
//   v210   encodeV210(buffer, exact, encoding)            10-bit 4:2:2, rows of v210Stride(width)
//   uyvy   encodeYCbCr8(buffer, {0,1,2,3}, encoding)      bytes Cb Y0 Cr Y1 (Kona 8-bit 4:2:2, DeckLink '2vuy')
//   yuy2   encodeYCbCr8(buffer, {1,0,3,2}, encoding)      bytes Y0 Cb Y1 Cr
//   bgra   encodeRgb32(buffer, 2, 1, 0, 3)                bytes B G R A (Kona 8-bit RGB)
//   argb   encodeRgb32(buffer, 1, 2, 3, 0)                bytes A R G B (DeckLink 8-bit RGB)
//   rgba   encodeRgb32(buffer, 0, 1, 2, 3)                bytes R G B A
//   rgb24  encodeRgb24(buffer, 0, 1, 2)                   bytes R G B
//   bgr24  encodeRgb24(buffer, 2, 1, 0)                   bytes B G R
//   dpx10  encodeRgb10(buffer, 0, 2, true)                big-endian words, R 22-31, G 12-21, B 2-11 (Kona 10-bit RGB)
//   r210   encodeRgb10(buffer, 2, 0, false, rowBytes)     big-endian words, R 20-29, G 10-19, B 0-9, bits 30-31 set
//                                                         (DeckLink 10-bit RGB, rows of ((width + 63) / 64) * 256)
//   none   nothing to decode
enum class QiSignalLayout : int32_t { v210, uyvy, yuy2, bgra, argb, rgba, rgb24, bgr24, dpx10, r210, none };

// The names written into capture descriptions ("v210" ... "none").
const char *qiSignalLayoutName(QiSignalLayout layout);
// Exact, case-sensitive names; false (layout unchanged) for anything else.
bool qiSignalLayoutFromName(const std::string &name, QiSignalLayout &layout);
bool qiSignalLayoutIsYCbCr(QiSignalLayout layout);
// Bits per component: 8 or 10; 0 for none.
int32_t qiSignalLayoutBits(QiSignalLayout layout);
// Bytes of one packed row; 0 for none or a width outside 1..kQiSignalMaxSide.
size_t qiSignalNaturalRowBytes(QiSignalLayout layout, int32_t width);

constexpr int32_t kQiSignalMaxSide = 16384;

// Decoded components. RGB layouts: c0, c1, c2 = R, G, B per pixel, row-major.
// YCbCr layouts: c0 = Y per pixel; c1, c2 = Cb, Cr per pixel pair
// (chromaWidth() per row), the pair of pixels 2k and 2k+1.
struct QiDecodedSignal {
    QiSignalLayout layout = QiSignalLayout::none;
    int32_t width = 0, height = 0;
    int32_t bits = 0;
    bool ycbcr = false;
    std::vector<uint16_t> c0, c1, c2;
    int32_t chromaWidth() const { return ycbcr ? (width + 1) / 2 : width; }
};

// bytes holds height rows of rowBytes (0 = the natural row). False, with out
// emptied, for none, sizes outside 1..kQiSignalMaxSide, a row shorter than
// the layout's, or fewer bytes than the rows need. An odd last pixel of a
// uyvy/yuy2 row has no Cr byte; its Cr is the neutral 128.
bool qiDecodeSignal(QiSignalLayout layout, const uint8_t *bytes, size_t size, int32_t width, int32_t height,
                    size_t rowBytes, QiDecodedSignal &out);

// YCbCr samples back to R, G, B code values at the same depth through the
// inverse of encoding's matrix (0..5, others 2), with the encoder's offsets
// (16 subtracted from each component, chroma centred on 128 or 512);
// rounded and held to the code range. Each pixel takes its pair's chroma.
// RGB input is copied. False for an empty input.
bool qiSignalToRgb(const QiDecodedSignal &in, int encoding, QiDecodedSignal &out);

// The matrix qiSignalToRgb applies: R, G, B = inv * (Y - 16, Cb - mid,
// Cr - mid) + 16, mid being 128 at 8 bits and 512 at 10.
void qiSignalInverseMatrix(int encoding, double inv[3][3]);
