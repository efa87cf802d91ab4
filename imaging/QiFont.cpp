#include "QiFont.h"

#include "QiImage.h"
#include "QiLog.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The process-wide library. FreeType wants face creation and release on one
// library serialised; glyph work on separate faces needs no lock.
std::mutex g_libraryMutex;
FT_Library g_library = nullptr;

constexpr int kMaxGlyphs = 256;

} // namespace

struct QiFont::Glyph {
    bool loaded = false;   // cache entry filled
    bool usable = false;   // loaded and copied: takes part in the layout
    bool rendered = false; // has a coverage bitmap to draw
    uint32_t index = 0;
    int32_t advanceX = 0, advanceY = 0; // whole pixels
    int32_t xMin = 0, yMin = 0, xMax = 0, yMax = 0; // control box, whole pixels, y up
    int32_t left = 0, top = 0, columns = 0, rows = 0;
    std::vector<uint8_t> coverage; // rows x columns, top row first
};

QiFont::QiFont(const std::string &path, int points, int dpi) : m_glyphs(std::make_unique<Glyph[]>(256))
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (!g_library && FT_Init_FreeType(&g_library) != 0) {
        g_library = nullptr;
        qiLog(2, "QiFont: couldn't init library (%s)\n", path.c_str());
        return;
    }
    FT_Face face = nullptr;
    if (FT_New_Face(g_library, path.c_str(), 0, &face) != 0) {
        qiLog(2, "QiFont: couldn't create new face (%s)\n", path.c_str());
        return;
    }
    FT_F26Dot6 size = points <= 0 ? 64 : static_cast<FT_F26Dot6>(points) * 64;
    FT_UInt resolution = dpi <= 0 ? 72u : static_cast<FT_UInt>(dpi);
    FT_Set_Char_Size(face, size, size, resolution, resolution);
    m_face = face;
    m_hasKerning = FT_HAS_KERNING(face);
}

QiFont::~QiFont()
{
    if (m_face) {
        std::lock_guard<std::mutex> lock(g_libraryMutex);
        FT_Done_Face(m_face);
    }
}

const QiFont::Glyph &QiFont::glyphFor(uint8_t byte)
{
    Glyph &g = m_glyphs[byte];
    if (g.loaded)
        return g;
    g.loaded = true;
    // Bytes above 127 are not characters: they show the missing glyph.
    g.index = byte > 127 ? 0 : FT_Get_Char_Index(m_face, byte);
    if (FT_Load_Glyph(m_face, g.index, FT_LOAD_DEFAULT) != 0)
        return g;
    FT_Glyph copy = nullptr;
    if (FT_Get_Glyph(m_face->glyph, &copy) != 0)
        return g;
    g.usable = true;
    g.advanceX = static_cast<int32_t>(m_face->glyph->advance.x >> 6);
    g.advanceY = static_cast<int32_t>(m_face->glyph->advance.y >> 6);
    FT_BBox box;
    FT_Glyph_Get_CBox(copy, FT_GLYPH_BBOX_PIXELS, &box);
    g.xMin = static_cast<int32_t>(box.xMin);
    g.yMin = static_cast<int32_t>(box.yMin);
    g.xMax = static_cast<int32_t>(box.xMax);
    g.yMax = static_cast<int32_t>(box.yMax);

    if (FT_Glyph_To_Bitmap(&copy, FT_RENDER_MODE_NORMAL, nullptr, 1) == 0) {
        auto *bitmapGlyph = reinterpret_cast<FT_BitmapGlyph>(copy);
        const FT_Bitmap &bm = bitmapGlyph->bitmap;
        const bool gray = bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays > 1;
        if (gray || bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            g.rendered = true;
            g.left = bitmapGlyph->left;
            g.top = bitmapGlyph->top;
            g.columns = static_cast<int32_t>(bm.width);
            g.rows = static_cast<int32_t>(bm.rows);
            g.coverage.resize(static_cast<size_t>(g.columns) * static_cast<size_t>(g.rows));
            const int pitch = bm.pitch;
            // A negative pitch means the buffer holds the bottom row first.
            const unsigned char *top =
                pitch >= 0 ? bm.buffer : bm.buffer + static_cast<ptrdiff_t>(-pitch) * (g.rows - 1);
            for (int32_t r = 0; r < g.rows; ++r) {
                const unsigned char *src = top + static_cast<ptrdiff_t>(pitch) * r;
                uint8_t *dst = g.coverage.data() + static_cast<size_t>(r) * g.columns;
                for (int32_t c = 0; c < g.columns; ++c) {
                    if (gray)
                        dst[c] = bm.num_grays == 256 ? src[c]
                                                     : static_cast<uint8_t>(src[c] * 255 / (bm.num_grays - 1));
                    else
                        dst[c] = (src[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
                }
            }
        }
    }
    FT_Done_Glyph(copy);
    return g;
}

namespace {

// Axis-aligned frame edges: the pixels drawLine sets for such lines, written
// straight into the clipped rows.
void frameRow(QiImage &image, uint64_t word, int64_t x0, int64_t x1, int64_t y)
{
    if (y < 0 || y >= image.height())
        return;
    x0 = std::max<int64_t>(x0, 0);
    x1 = std::min<int64_t>(x1, image.width() - 1);
    uint64_t *row = image.row(static_cast<int32_t>(y));
    for (int64_t x = x0; x <= x1; ++x)
        row[x] = word;
}

void frameColumn(QiImage &image, uint64_t word, int64_t x, int64_t y0, int64_t y1)
{
    if (x < 0 || x >= image.width())
        return;
    y0 = std::max<int64_t>(y0, 0);
    y1 = std::min<int64_t>(y1, image.height() - 1);
    for (int64_t y = y0; y <= y1; ++y)
        image.row(static_cast<int32_t>(y))[x] = word;
}

} // namespace

bool drawText(QiImage &image, QiFont &font, const char *text, uint64_t color, int32_t x, int32_t y, int32_t &width,
              int32_t &height, bool frame, int32_t anchor)
{
    width = 0;
    height = 0;
    if (!font.ok())
        return false;
    if (!text)
        text = "";

    struct Placed {
        const QiFont::Glyph *glyph;
        int64_t x, y;
    };
    Placed placed[kMaxGlyphs];
    int count = 0;
    int64_t penX = 0, penY = 0;
    uint32_t previous = 0;
    const size_t length = std::strlen(text);
    for (size_t i = 0; i < length && count < kMaxGlyphs; ++i) {
        const QiFont::Glyph &g = font.glyphFor(static_cast<uint8_t>(text[i]));
        if (font.m_hasKerning && previous && g.index) {
            FT_Vector delta{0, 0};
            FT_Get_Kerning(font.m_face, previous, g.index, FT_KERNING_DEFAULT, &delta);
            penX += delta.x >> 6;
        }
        if (!g.usable || penX > image.width() || penY > image.height())
            continue;
        placed[count++] = {&g, penX, penY};
        previous = g.index;
        penX += g.advanceX;
        penY += g.advanceY;
    }

    int64_t xMin = 32000, yMin = 32000, xMax = -32000, yMax = -32000;
    for (int i = 0; i < count; ++i) {
        const QiFont::Glyph &g = *placed[i].glyph;
        xMin = std::min(xMin, g.xMin + placed[i].x);
        yMin = std::min(yMin, g.yMin + placed[i].y);
        xMax = std::max(xMax, g.xMax + placed[i].x);
        yMax = std::max(yMax, g.yMax + placed[i].y);
    }
    if (xMin > xMax)
        xMin = yMin = xMax = yMax = 0;
    const int64_t w = xMax - xMin + 4;
    const int64_t h = yMax - yMin + 4;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);

    // Origin and baseline in 64 bits: x and y may be anywhere.
    int64_t ox = 0, by = 0;
    if (anchor >= 0 && anchor <= 8) {
        switch (anchor % 3) {
        case 0: ox = x; break;
        case 1: ox = int64_t{x} - w / 2; break;
        default: ox = int64_t{x} - w; break;
        }
        switch (anchor / 3) {
        case 0: by = int64_t{y} + h; break;
        case 1: by = int64_t{y} + h / 2; break;
        default: by = y; break;
        }
    }
    if (!image.data())
        return true;

    if (frame) {
        const int64_t x0 = ox - 2, y0 = by - h + 2, x1 = ox + w - 2, y1 = by + 2;
        frameRow(image, color, x0, x1, y0);
        frameRow(image, color, x0, x1, y1);
        frameColumn(image, color, x0, y0, y1);
        frameColumn(image, color, x1, y0, y1);
    }

    const int32_t mode = image.textBlendMode();
    if (mode != 0 && mode != 1)
        return true;
    const uint32_t tr = image.red(color), tg = image.green(color), tb = image.blue(color);
    const int64_t imageWidth = image.width(), imageHeight = image.height();
    for (int i = 0; i < count; ++i) {
        const QiFont::Glyph &g = *placed[i].glyph;
        if (!g.rendered)
            continue;
        const int64_t gx = ox + placed[i].x + g.left;
        const int64_t gy = by + placed[i].y - g.top;
        // Clip the bitmap to the image once, then blend whole rows.
        const int64_t c0 = std::max<int64_t>(0, -gx), c1 = std::min<int64_t>(g.columns, imageWidth - gx);
        const int64_t r0 = std::max<int64_t>(0, -gy), r1 = std::min<int64_t>(g.rows, imageHeight - gy);
        for (int64_t r = r0; r < r1; ++r) {
            const uint8_t *cov = g.coverage.data() + r * g.columns;
            uint64_t *dst = image.row(static_cast<int32_t>(gy + r)) + gx;
            for (int64_t c = c0; c < c1; ++c) {
                const uint32_t L = cov[c], N = 255 - L;
                const uint64_t word = dst[c];
                uint32_t red = image.red(word), green = image.green(word), blue = image.blue(word);
                green = (N * green + (green ^ tg) * L) / 255;
                if (mode == 0) {
                    red = (N * red + (red ^ tr) * L) / 255;
                    blue = (N * blue + (blue ^ tb) * L) / 255;
                }
                dst[c] = image.pack(red, green, blue);
            }
        }
    }
    return true;
}
