#pragma once
#include <cstddef>
#include <cstdint>

class QiImage;

// Encodes a QiImage into device pixel formats, with per-channel overrides
// (gating, mute). One is embedded in every raster.
class QiImageCoder {
public:
    explicit QiImageCoder(QiImage *image = nullptr) : m_image(image) {}
    virtual ~QiImageCoder() = default;

    // flags: bit 0 red, bit 1 green, bit 2 blue are replaced by the low
    // 8 bits of the matching value. Returns true.
    virtual bool setOverrides(uint8_t flags, int32_t red, int32_t green, int32_t blue);
    virtual bool getOverrides(uint8_t &flags, uint8_t &red, uint8_t &green, uint8_t &blue) const;

    void setImage(QiImage *image) { m_image = image; }
    QiImage *image() const { return m_image; }

    // Encoders; encoding selects the matrix (0..5, others use 2). rowBytes
    // is the distance between output rows, 0 for the natural row (width *
    // bytes per pixel, or v210Stride); bytes of a row past its pixels are
    // left as they were. The buffer holds height * rowBytes bytes. False
    // (and nothing written) without an image, at a depth outside 1..16 or
    // with a rowBytes shorter than the natural row.
    //
    // encodeRgb32: 32-bit little-endian words, component >> (bits-8) at byte
    // positions pR, pG, pB, 255 at pA (positions taken mod 4).
    bool encodeRgb32(uint8_t *buffer, int pR, int pG, int pB, int pA, size_t rowBytes = 0) const;
    // encodeRgb24: three bytes per pixel at offsets iR, iG, iB (0..2).
    bool encodeRgb24(uint8_t *buffer, int iR, int iG, int iB, size_t rowBytes = 0) const;
    // encodeRgb10: big-endian 32-bit words, red in field redField, blue in
    // blueField (0 = bits 0-9, 2 = bits 20-29), bits 30-31 set; dpx moves
    // them to red 22-31, green 12-21, blue 2-11.
    bool encodeRgb10(uint8_t *buffer, int redField, int blueField, bool dpx, size_t rowBytes = 0) const;
    // encodeYCbCr8: 8-bit 4:2:2, (Y0, Cb, Y1, Cr) picked by order into two
    // little-endian 16-bit values per pair: (0,1,2,3) = Cb Y0 Cr Y1 (UYVY),
    // (1,0,3,2) = Y0 Cb Y1 Cr (YUY2). An odd last pixel pairs with itself
    // and writes only its first 16-bit value.
    bool encodeYCbCr8(uint8_t *buffer, const int order[4], int encoding, size_t rowBytes = 0) const;
    // encodeV210: 10-bit 4:2:2 v210; exact takes the formula path for
    // encodings 0, 2, 4 (the matrix path for the others), masked to 10 bits.
    bool encodeV210(uint8_t *buffer, bool exact, int encoding, size_t rowBytes = 0) const;

    // Bytes per v210 row: width rounded up to 48 pixels, 128 bytes per 48.
    static uint32_t v210Stride(int32_t width) { return static_cast<uint32_t>((width + 47) / 48) * 128u; }
    // The nine stored weights of a matrix: luma a, b, c; Cb d, e, f; Cr g, h,
    // i. Indices outside 0..5 give matrix 2.
    static const double *matrixWeights(int encoding);

    // Rows are spread over the shared worker pool unless this is off (the
    // output is the same either way).
    void setThreaded(bool on) { m_threaded = on; }
    bool threaded() const { return m_threaded; }

protected:
    QiImage *m_image;
    int32_t m_constRed = 0, m_constGreen = 0, m_constBlue = 0;
    uint8_t m_flags = 0;
    bool m_threaded = true;
};
