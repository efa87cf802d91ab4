#pragma once
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

    // Encoders; encoding selects the matrix (0..5, others use 2).
    void encodeRgb32(uint8_t *buffer, int pR, int pG, int pB, int pA) const;
    void encodeRgb24(uint8_t *buffer, int iR, int iG, int iB) const;
    void encodeRgb10(uint8_t *buffer, int redField, int blueField, bool dpx) const;
    void encodeYCbCr8(uint8_t *buffer, const int order[4], int encoding) const;
    void encodeV210(uint8_t *buffer, bool exact, int encoding) const;

    // Bytes per v210 row: width rounded up to 48 pixels, 128 bytes per 48.
    static uint32_t v210Stride(int32_t width) { return static_cast<uint32_t>((width + 47) / 48) * 128u; }

protected:
    QiImage *m_image;
    int32_t m_constRed = 0, m_constGreen = 0, m_constBlue = 0;
    uint8_t m_flags = 0;
};
