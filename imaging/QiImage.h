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
    // For decoders that write every pixel they keep. (Every picture now
    // starts as zero pages, so the pages of a large one are committed only
    // as its rows arrive, not for rows a short file never delivers.)
    struct Unfilled {};
    QiImage(int32_t width, int32_t height, int32_t bits, Unfilled);
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
    // Symmetric double-step line; both end points are always set.
    void drawLine(uint64_t word, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    // Midpoint circle outline, eight-way symmetric.
    void drawCircle(uint64_t word, int32_t cx, int32_t cy, int32_t r);
    // Vertical lines at x + xShift + i*w/columns from y to y+h, horizontal
    // lines at y + yShift + j*h/rows from x to x+w (both ends included).
    // Nothing when rows <= 0; no vertical lines when columns <= 0.
    void drawGrid(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h, int32_t columns, int32_t rows,
                  int32_t xShift, int32_t yShift);
    // Each component c -> int((c/M)^(1/gamma)*M + 0.5), M = 2^bits - 1,
    // held to 0..M (a gamma <= 0 would otherwise overflow).
    void gammaPixel(double gamma, uint64_t &pixel) const;

    // Pattern shading. Every shade is interpolateColor(T[i]/1023, from, to)
    // with T the sinusoid table (QiSinusoid.h).
    // Zone plate: pixel (x, y) has dx = (W-1-x) - cx, dy = (H-1-y) - cy and
    // i = int(scale*(dx*dx + dy*dy)/1023.0 + 0.5) & 1023, the product
    // formed as a 32-bit unsigned integer.
    void radialFill(uint64_t from, uint64_t to, int32_t scale, int32_t cx, int32_t cy);
    // Sine sweep: i = int((p/L)^2*1023*scale + 0.5) & 1023 for column p of
    // L = width (horizontal, whole columns) or row p of L = height.
    void chirpFill(uint64_t from, uint64_t to, int32_t scale, bool horizontal);
    // Sector star around (cx, cy): A = (angle of (x-cx, y-cy) + 180 deg) in
    // 16.16 degrees by CORDIC. Hard style: palette[((A*divisions/360) >> 16)
    // mod paletteSize]. Smooth style: shade i = (divisions*((A/360) >> 6)) &
    // 1023 between palette[0] and palette[1] (palette[0] alone if size 1).
    void sectorFill(const uint64_t *palette, int32_t paletteSize, int32_t divisions, int32_t cx, int32_t cy,
                    bool smooth);

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
    // Allocates width*height zeroed words; null (and the log line) when the
    // size overflows or the allocation fails. freePixels gives them back.
    static uint64_t *allocatePixels(int32_t width, int32_t height);
    static void freePixels(uint64_t *data, int32_t width, int32_t height);

    uint64_t *m_data = nullptr;
    int32_t m_bits;
    int32_t m_textBlendMode = 0;
    int32_t m_width;
    int32_t m_height;
};
