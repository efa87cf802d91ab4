#include "QiPreview.h"

#include "QiImage.h"

#include <algorithm>
#include <cmath>

namespace {

// Code value (scaled by count) to an sRGB byte, black to 0, white to 255.
inline uint8_t toByte(double code, int32_t black, int32_t white)
{
    const double v = (code - black) * 255.0 / (white - black);
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

int32_t QiPreview::factor(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight)
{
    maxWidth = std::max(maxWidth, 1);
    maxHeight = std::max(maxHeight, 1);
    const int32_t fw = (width + maxWidth - 1) / maxWidth, fh = (height + maxHeight - 1) / maxHeight;
    return std::max({fw, fh, 1});
}

void QiPreview::clear()
{
    m_width = m_height = 0;
    m_rgb.clear();
}

bool QiPreview::begin(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight)
{
    clear();
    if (width < 1 || height < 1 || width > kQiSignalMaxSide || height > kQiSignalMaxSide)
        return false;
    m_factor = factor(width, height, maxWidth, maxHeight);
    m_width = std::max(width / m_factor, 1);
    m_height = std::max(height / m_factor, 1);
    m_rgb.assign(static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 3, 0);
    m_sum.assign(static_cast<size_t>(m_width) * 3, 0);
    return true;
}

bool QiPreview::fromSignal(QiSignalLayout layout, const uint8_t *bytes, size_t size, int32_t width, int32_t height,
                           size_t rowBytes, int encoding, int32_t maxWidth, int32_t maxHeight)
{
    const size_t natural = qiSignalNaturalRowBytes(layout, width);
    if (rowBytes == 0)
        rowBytes = natural;
    if (!bytes || natural == 0 || rowBytes < natural || height < 1 || height > kQiSignalMaxSide ||
        size / rowBytes < static_cast<size_t>(height - 1) || size - rowBytes * static_cast<size_t>(height - 1) < natural)
        return clear(), false;
    if (!begin(width, height, maxWidth, maxHeight))
        return false;
    const bool ycbcr = qiSignalLayoutIsYCbCr(layout);
    const int32_t bits = qiSignalLayoutBits(layout);
    const int32_t black = 16 << (bits - 8), white = 235 << (bits - 8);
    const double mid = bits == 10 ? 512.0 : 128.0;
    double inv[3][3];
    qiSignalInverseMatrix(encoding, inv);
    const int32_t f = m_factor;
    const double n = static_cast<double>(f) * f;

    for (int32_t py = 0; py < m_height; ++py) {
        std::fill(m_sum.begin(), m_sum.end(), 0);
        for (int32_t dy = 0; dy < f; ++dy) {
            const size_t y = static_cast<size_t>(py) * f + dy;
            // One row at a time: the decoder's buffers stay a row long.
            if (!qiDecodeSignal(layout, bytes + y * rowBytes, size - y * rowBytes, width, 1, rowBytes, m_row))
                return clear(), false;
            const uint16_t *c0 = m_row.c0.data(), *c1 = m_row.c1.data(), *c2 = m_row.c2.data();
            uint64_t *sum = m_sum.data();
            for (int32_t px = 0, x = 0; px < m_width; ++px) {
                uint64_t *s = sum + 3 * static_cast<size_t>(px);
                for (int32_t dx = 0; dx < f; ++dx, ++x) {
                    // YCbCr: each pixel takes its pair's chroma.
                    const int32_t k = ycbcr ? x >> 1 : x;
                    s[0] += c0[x];
                    s[1] += c1[k];
                    s[2] += c2[k];
                }
            }
        }
        uint8_t *out = m_rgb.data() + static_cast<size_t>(py) * m_width * 3;
        for (int32_t px = 0; px < m_width; ++px) {
            const uint64_t *s = m_sum.data() + 3 * static_cast<size_t>(px);
            const double a = s[0] / n, b = s[1] / n, c = s[2] / n;
            if (ycbcr) {
                // The mean of the components is the components of the mean:
                // the matrix is linear, so one inversion per preview pixel.
                const double v[3] = {a - 16.0, b - mid, c - mid};
                for (int r = 0; r < 3; ++r)
                    out[3 * px + r] = toByte(inv[r][0] * v[0] + inv[r][1] * v[1] + inv[r][2] * v[2] + 16.0, black, white);
            } else {
                out[3 * px] = toByte(a, black, white);
                out[3 * px + 1] = toByte(b, black, white);
                out[3 * px + 2] = toByte(c, black, white);
            }
        }
    }
    return true;
}

bool QiPreview::fromImage(const QiImage &image, int32_t black, int32_t white, int32_t maxWidth, int32_t maxHeight)
{
    if (!image.data() || white <= black || !begin(image.width(), image.height(), maxWidth, maxHeight))
        return clear(), false;
    const int32_t f = m_factor;
    const double n = static_cast<double>(f) * f;
    for (int32_t py = 0; py < m_height; ++py) {
        std::fill(m_sum.begin(), m_sum.end(), 0);
        for (int32_t dy = 0; dy < f; ++dy) {
            const uint64_t *row = image.row(py * f + dy);
            uint64_t *sum = m_sum.data();
            for (int32_t px = 0, x = 0; px < m_width; ++px) {
                uint64_t *s = sum + 3 * static_cast<size_t>(px);
                for (int32_t dx = 0; dx < f; ++dx, ++x) {
                    s[0] += image.red(row[x]);
                    s[1] += image.green(row[x]);
                    s[2] += image.blue(row[x]);
                }
            }
        }
        uint8_t *out = m_rgb.data() + static_cast<size_t>(py) * m_width * 3;
        for (int32_t px = 0; px < m_width * 3; ++px)
            out[px] = toByte(m_sum[static_cast<size_t>(px)] / n, black, white);
    }
    return true;
}
