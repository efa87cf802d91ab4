#include "QiSignalDecoder.h"

#include "QiImageCoder.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char *kNames[] = {"v210", "uyvy", "yuy2", "bgra", "argb", "rgba", "rgb24", "bgr24", "dpx10", "r210",
                                  "none"};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<size_t>(QiSignalLayout::none) + 1);

inline uint32_t bigEndian(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

inline uint32_t littleEndian(const uint8_t *p)
{
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

void decodeRow(QiSignalLayout layout, const uint8_t *p, int32_t w, uint16_t *c0, uint16_t *c1, uint16_t *c2)
{
    // RGB: byte offsets of R, G, B and the pixel size.
    auto bytes = [&](int r, int g, int b, int size) {
        for (int32_t x = 0; x < w; ++x, p += size) {
            c0[x] = p[r];
            c1[x] = p[g];
            c2[x] = p[b];
        }
    };
    switch (layout) {
    case QiSignalLayout::bgra: bytes(2, 1, 0, 4); break;
    case QiSignalLayout::argb: bytes(1, 2, 3, 4); break;
    case QiSignalLayout::rgba: bytes(0, 1, 2, 4); break;
    case QiSignalLayout::rgb24: bytes(0, 1, 2, 3); break;
    case QiSignalLayout::bgr24: bytes(2, 1, 0, 3); break;
    case QiSignalLayout::dpx10:
        for (int32_t x = 0; x < w; ++x, p += 4) {
            uint32_t v = bigEndian(p);
            c0[x] = static_cast<uint16_t>(v >> 22 & 1023);
            c1[x] = static_cast<uint16_t>(v >> 12 & 1023);
            c2[x] = static_cast<uint16_t>(v >> 2 & 1023);
        }
        break;
    case QiSignalLayout::r210:
        for (int32_t x = 0; x < w; ++x, p += 4) {
            uint32_t v = bigEndian(p);
            c0[x] = static_cast<uint16_t>(v >> 20 & 1023);
            c1[x] = static_cast<uint16_t>(v >> 10 & 1023);
            c2[x] = static_cast<uint16_t>(v & 1023);
        }
        break;
    case QiSignalLayout::uyvy:
    case QiSignalLayout::yuy2: {
        // Byte positions of Y0, Cb, Y1, Cr within a pair's four bytes.
        const bool u = layout == QiSignalLayout::uyvy;
        const int y0 = u ? 1 : 0, cb = u ? 0 : 1, y1 = u ? 3 : 2, cr = u ? 2 : 3;
        for (int32_t k = 0; 2 * k < w; ++k, p += 4) {
            c0[2 * k] = p[y0];
            c1[k] = p[cb];
            if (2 * k + 1 < w) {
                c0[2 * k + 1] = p[y1];
                c2[k] = p[cr];
            } else {
                c2[k] = 128;
            }
        }
        break;
    }
    case QiSignalLayout::v210: {
        // Twelve samples per group: Cb0 Y0 Cr0 Y1 Cb2 Y2 Cr2 Y3 Cb4 Y4 Cr4 Y5.
        const int32_t pairs = (w + 1) / 2;
        for (int32_t g = 0; 6 * g < w; ++g, p += 16) {
            uint16_t s[12];
            for (int i = 0; i < 4; ++i) {
                uint32_t v = littleEndian(p + 4 * i);
                for (int j = 0; j < 3; ++j)
                    s[3 * i + j] = static_cast<uint16_t>(v >> (10 * j) & 1023);
            }
            for (int q = 0; q < 3; ++q) {
                const int32_t k = 3 * g + q;
                if (k >= pairs)
                    break;
                c1[k] = s[4 * q];
                c0[2 * k] = s[4 * q + 1];
                c2[k] = s[4 * q + 2];
                if (2 * k + 1 < w)
                    c0[2 * k + 1] = s[4 * q + 3];
            }
        }
        break;
    }
    case QiSignalLayout::none: break;
    }
}

// Empties out but keeps its vectors' memory for the next frame.
void reset(QiDecodedSignal &out)
{
    out.layout = QiSignalLayout::none;
    out.width = out.height = out.bits = 0;
    out.ycbcr = false;
    out.c0.clear();
    out.c1.clear();
    out.c2.clear();
}

} // namespace

const char *qiSignalLayoutName(QiSignalLayout layout)
{
    const auto i = static_cast<size_t>(layout);
    return i < sizeof(kNames) / sizeof(kNames[0]) ? kNames[i] : "none";
}

bool qiSignalLayoutFromName(const std::string &name, QiSignalLayout &layout)
{
    for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i)
        if (name == kNames[i]) {
            layout = static_cast<QiSignalLayout>(i);
            return true;
        }
    return false;
}

bool qiSignalLayoutIsYCbCr(QiSignalLayout layout)
{
    return layout == QiSignalLayout::v210 || layout == QiSignalLayout::uyvy || layout == QiSignalLayout::yuy2;
}

int32_t qiSignalLayoutBits(QiSignalLayout layout)
{
    switch (layout) {
    case QiSignalLayout::v210:
    case QiSignalLayout::dpx10:
    case QiSignalLayout::r210: return 10;
    case QiSignalLayout::none: return 0;
    default: return 8;
    }
}

size_t qiSignalNaturalRowBytes(QiSignalLayout layout, int32_t width)
{
    if (width < 1 || width > kQiSignalMaxSide)
        return 0;
    const size_t w = static_cast<size_t>(width);
    switch (layout) {
    case QiSignalLayout::v210: return QiImageCoder::v210Stride(width);
    case QiSignalLayout::uyvy:
    case QiSignalLayout::yuy2: return 2 * w;
    case QiSignalLayout::rgb24:
    case QiSignalLayout::bgr24: return 3 * w;
    case QiSignalLayout::none: return 0;
    default: return 4 * w;
    }
}

bool qiDecodeSignal(QiSignalLayout layout, const uint8_t *bytes, size_t size, int32_t width, int32_t height,
                    size_t rowBytes, QiDecodedSignal &out)
{
    reset(out);
    const size_t natural = qiSignalNaturalRowBytes(layout, width);
    if (!bytes || natural == 0 || height < 1 || height > kQiSignalMaxSide)
        return false;
    if (rowBytes == 0)
        rowBytes = natural;
    size_t need = 0;
    if (rowBytes < natural || __builtin_mul_overflow(rowBytes, static_cast<size_t>(height - 1), &need) ||
        __builtin_add_overflow(need, natural, &need) || need > size)
        return false;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    out.layout = layout;
    out.width = width;
    out.height = height;
    out.bits = qiSignalLayoutBits(layout);
    out.ycbcr = qiSignalLayoutIsYCbCr(layout);
    const size_t chroma = static_cast<size_t>(out.chromaWidth()) * static_cast<size_t>(height);
    out.c0.assign(pixels, 0);
    out.c1.assign(chroma, 0);
    out.c2.assign(chroma, 0);
    const size_t cw = static_cast<size_t>(out.chromaWidth());
    for (int32_t y = 0; y < height; ++y)
        decodeRow(layout, bytes + static_cast<size_t>(y) * rowBytes, width, &out.c0[static_cast<size_t>(y) * width],
                  &out.c1[y * cw], &out.c2[y * cw]);
    return true;
}

void qiSignalInverseMatrix(int encoding, double inv[3][3])
{
    // Per pixel the encoder computes Y = a r + b g + c b and, for a pair of
    // equal pixels, Cb = 2 (d r + e g + f b), Cr = 2 (g r + h g + i b),
    // with r = R - 16 and so on. Invert that 3x3 matrix.
    const double *m = QiImageCoder::matrixWeights(encoding);
    const double M[3][3] = {{m[0], m[1], m[2]}, {2 * m[3], 2 * m[4], 2 * m[5]}, {2 * m[6], 2 * m[7], 2 * m[8]}};
    const double det = M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                       M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                       M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0]);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            // Cofactor of (c, r) over the determinant.
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inv[r][c] = (M[r1][c1] * M[r2][c2] - M[r1][c2] * M[r2][c1]) / det;
        }
}

bool qiSignalToRgb(const QiDecodedSignal &in, int encoding, QiDecodedSignal &out)
{
    if (&in == &out) {
        // Decoding into the same object: work from a copy.
        const QiDecodedSignal copy = in;
        return qiSignalToRgb(copy, encoding, out);
    }
    if (in.width <= 0 || in.height <= 0 || in.c0.empty()) {
        reset(out);
        return false;
    }
    if (!in.ycbcr) {
        out = in;
        return true;
    }
    double inv[3][3];
    qiSignalInverseMatrix(encoding, inv);
    const int32_t maxCode = (1 << in.bits) - 1;
    const double mid = in.bits == 10 ? 512 : 128;
    const size_t cw = static_cast<size_t>(in.chromaWidth());
    // Written in place so a caller's buffers are reused frame to frame.
    out.layout = in.layout;
    out.width = in.width;
    out.height = in.height;
    out.bits = in.bits;
    out.ycbcr = false;
    const size_t pixels = in.c0.size();
    out.c0.resize(pixels);
    out.c1.resize(pixels);
    out.c2.resize(pixels);
    uint16_t *dst[3] = {out.c0.data(), out.c1.data(), out.c2.data()};
    for (int32_t y = 0; y < in.height; ++y)
        for (int32_t x = 0; x < in.width; ++x) {
            const size_t i = static_cast<size_t>(y) * in.width + x, k = y * cw + x / 2;
            const double v[3] = {in.c0[i] - 16.0, in.c1[k] - mid, in.c2[k] - mid};
            for (int r = 0; r < 3; ++r) {
                double code = inv[r][0] * v[0] + inv[r][1] * v[1] + inv[r][2] * v[2] + 16.0;
                int32_t q = static_cast<int32_t>(std::floor(std::clamp(code, -1.0, maxCode + 1.0) + 0.5));
                dst[r][i] = static_cast<uint16_t>(std::clamp(q, 0, maxCode));
            }
        }
    return true;
}
