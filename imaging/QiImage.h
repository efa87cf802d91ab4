#pragma once
#include <cstdint>
#include <string>

class QiRaster;

// RGB picture, one 64-bit word per pixel: red in bits 2n..3n-1, green in
// n..2n-1, blue in 0..n-1 for n bits per component. Row-major, row 0 first.
// Not copyable; no lock (the raster is used only on the render thread).
class QiImage {
public:
    QiImage(int32_t width, int32_t height, int32_t bits);
    virtual ~QiImage();

    // Image files; implemented with the file codecs.
    virtual bool savePng(const char *path);
    virtual bool saveJpeg(const char *path, int quality);
    virtual bool saveOvi(const char *path);

    // New width*height array; the first min(old, new) words are kept in
    // memory order, the rest zeroed.
    virtual bool resize(int32_t width, int32_t height);
    // Packs by shift and OR (no masking) and calls setPixel.
    virtual bool setPixelRgb(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue);
    // False outside the image.
    virtual bool setPixel(int32_t x, int32_t y, uint64_t word);

    // Straight stores of every pixel.
    void fill(uint64_t word);
    // w or h of -1 extend to the right or bottom edge.
    bool fillRect(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h);
    // w/h of -1 take the source's size; cut to both images.
    void blit(const QiImage *source, int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t w, int32_t h);
    void drawLine(uint64_t word, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    void drawCircle(uint64_t word, int32_t cx, int32_t cy, int32_t r);
    void drawGrid(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h, int32_t columns, int32_t rows,
                  int32_t xShift, int32_t yShift);
    void gammaPixel(double gamma, uint64_t &pixel) const;

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int32_t bits() const { return m_bits; }
    int32_t textBlendMode() const { return m_textBlendMode; }
    void setTextBlendMode(int32_t mode) { m_textBlendMode = mode; }
    // Null when the allocation failed.
    uint64_t *data() { return m_data; }
    const uint64_t *data() const { return m_data; }
    uint64_t *row(int32_t y) { return m_data + static_cast<size_t>(y) * static_cast<size_t>(m_width); }
    const uint64_t *row(int32_t y) const { return m_data + static_cast<size_t>(y) * static_cast<size_t>(m_width); }
    uint64_t pixel(int32_t x, int32_t y) const { return row(y)[x]; }

    // Pack/unpack at this image's depth.
    uint64_t pack(uint32_t red, uint32_t green, uint32_t blue) const
    {
        return (static_cast<uint64_t>(red) << (2 * m_bits)) | (static_cast<uint64_t>(green) << m_bits) | blue;
    }
    uint32_t mask() const { return (1u << m_bits) - 1u; }
    uint32_t red(uint64_t w) const { return static_cast<uint32_t>(w >> (2 * m_bits)) & mask(); }
    uint32_t green(uint64_t w) const { return static_cast<uint32_t>(w >> m_bits) & mask(); }
    uint32_t blue(uint64_t w) const { return static_cast<uint32_t>(w) & mask(); }

    QiImage(const QiImage &) = delete;
    QiImage &operator=(const QiImage &) = delete;

protected:
    // Allocates width*height words; null (and the log line) when the size
    // overflows or the allocation fails.
    static uint64_t *allocatePixels(int32_t width, int32_t height);

    uint64_t *m_data = nullptr;
    int32_t m_bits;
    int32_t m_textBlendMode = 0;
    int32_t m_width;
    int32_t m_height;
};
