#pragma once
#include <cstdint>
#include <memory>
#include <string>

class QiImage;
struct FT_FaceRec_;

// One FreeType face at one size. All fonts share one FreeType library that
// the first font creates and that lives until the process ends. A font is
// created on one thread and then used by one thread at a time (the engine
// creates its fonts before the render thread starts); it is not copyable.
class QiFont {
public:
    // Opens face 0 of path at points (1 point when <= 0) at dpi dots per
    // inch on both axes (72 when <= 0). Failures are logged and leave the
    // font without a face: ok() is false and drawText draws nothing.
    QiFont(const std::string &path, int points, int dpi);
    ~QiFont();

    bool ok() const { return m_face != nullptr; }
    // The FreeType face, null when loading failed.
    FT_FaceRec_ *face() const { return m_face; }

    QiFont(const QiFont &) = delete;
    QiFont &operator=(const QiFont &) = delete;

private:
    friend bool drawText(QiImage &, QiFont &, const char *, uint64_t, int32_t, int32_t, int32_t &, int32_t &, bool,
                         int32_t);
    struct Glyph;
    // The glyph of one text byte, loaded and rendered on first use. A face
    // at a fixed size always gives the same glyph, so the 256 possible bytes
    // are kept; captions are redrawn for every frame.
    const Glyph &glyphFor(uint8_t byte);

    FT_FaceRec_ *m_face = nullptr;
    bool m_hasKerning = false;
    std::unique_ptr<Glyph[]> m_glyphs;
};

// Lays out text (bytes as character codes, at most 256 glyphs, with the
// face's kerning), anchors its box at (x, y) and blends the glyphs into the
// image by the image's textBlendMode: 0 all components, 1 green only, other
// modes leave pixels unchanged. Each covered component c becomes
// ((255 - L) * c + (c ^ t) * L) / 255 for coverage L and text component t,
// so the text contrasts with any background.
//
// anchor: 0-2 top, 3-5 middle, 6-8 bottom; left, centre, right within each
// row of three. Other codes put the box at the image origin. With frame the
// box is outlined in color. width and height receive the box size (glyph
// control boxes plus 4; 4 x 4 for empty text). Returns true; false, with a
// 0 x 0 box and nothing drawn, when the font has no face.
bool drawText(QiImage &image, QiFont &font, const char *text, uint64_t color, int32_t x, int32_t y, int32_t &width,
              int32_t &height, bool frame = false, int32_t anchor = 0);
