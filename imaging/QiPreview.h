#pragma once
#include "QiSignalDecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class QiImage;

// A small 8-bit sRGB picture of what is on the output, for a live view:
// the frame shrunk by a whole factor f, each preview pixel the mean of an
// f x f block, video black (16, or 64 at 10 bits) shown as 0 and video
// white (235, 940) as 255. Buffers are kept from one picture to the next.
class QiPreview {
public:
    // The factor that fits width x height into maxWidth x maxHeight (at
    // least 1); the preview is (width / f) x (height / f).
    static int32_t factor(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight);

    // From a board's output (layouts of QiSignalDecoder). encoding selects
    // the matrix that YCbCr layouts were made with (0..5). False (preview
    // empty) for layout none, sizes outside 1..kQiSignalMaxSide or fewer
    // bytes than the rows need.
    bool fromSignal(QiSignalLayout layout, const uint8_t *bytes, size_t size, int32_t width, int32_t height,
                    size_t rowBytes, int encoding, int32_t maxWidth, int32_t maxHeight);
    // From a frame buffer whose black and white code values are given.
    bool fromImage(const QiImage &image, int32_t black, int32_t white, int32_t maxWidth, int32_t maxHeight);

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    // R, G, B bytes, rows of 3 * width, top first.
    const std::vector<uint8_t> &rgb() const { return m_rgb; }

private:
    bool begin(int32_t width, int32_t height, int32_t maxWidth, int32_t maxHeight);
    void clear();

    int32_t m_width = 0, m_height = 0, m_factor = 1;
    std::vector<uint8_t> m_rgb;
    // Sums of one preview row's blocks, three per pixel.
    std::vector<uint64_t> m_sum;
    QiDecodedSignal m_row;
};
