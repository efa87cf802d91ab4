// Text rendering: layout, anchors, frame and the XOR blend, compared with a
// plain per-pixel rendering written straight from the definition.
#include "QiFont.h"
#include "QiImage.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include <random>
#include <string>
#include <vector>

namespace {

const std::string kFonts = std::string(ORVANE_DATA_DIR) + "/datafiles/";

class CaptureOutput : public QiOutput {
public:
    explicit CaptureOutput(std::string &text) : m_text(text) {}
    bool write(const char *bytes, size_t length) override
    {
        m_text.append(bytes, length);
        return true;
    }

private:
    std::string &m_text;
};

// Per-pixel reference: every step as written, glyphs rendered at draw time,
// every pixel through setPixel. No frame.
struct Reference {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    Reference(const std::string &path, int points, int dpi)
    {
        FT_Init_FreeType(&library);
        FT_New_Face(library, path.c_str(), 0, &face);
        FT_Set_Char_Size(face, points * 64, points * 64, dpi, dpi);
    }
    ~Reference()
    {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }

    void draw(QiImage &image, const std::string &text, uint64_t color, int x, int y, int &w, int &h, int anchor)
    {
        struct G {
            FT_Glyph glyph;
            long x, y;
        };
        std::vector<G> glyphs;
        long penX = 0, penY = 0;
        FT_UInt previous = 0;
        for (unsigned char c : text) {
            if (glyphs.size() == 256)
                break;
            FT_UInt index = c > 127 ? 0 : FT_Get_Char_Index(face, c);
            if (FT_HAS_KERNING(face) && previous && index) {
                FT_Vector d;
                FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &d);
                penX += d.x >> 6;
            }
            long gx = penX, gy = penY;
            FT_Glyph glyph;
            if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) || FT_Get_Glyph(face->glyph, &glyph))
                continue;
            if (gx > image.width() || gy > image.height()) {
                FT_Done_Glyph(glyph);
                continue;
            }
            glyphs.push_back({glyph, gx, gy});
            previous = index;
            penX += face->glyph->advance.x >> 6;
            penY += face->glyph->advance.y >> 6;
        }
        long xMin = 32000, yMin = 32000, xMax = -32000, yMax = -32000;
        for (auto &g : glyphs) {
            FT_BBox b;
            FT_Glyph_Get_CBox(g.glyph, FT_GLYPH_BBOX_PIXELS, &b);
            xMin = std::min(xMin, b.xMin + g.x);
            yMin = std::min(yMin, b.yMin + g.y);
            xMax = std::max(xMax, b.xMax + g.x);
            yMax = std::max(yMax, b.yMax + g.y);
        }
        if (xMin > xMax)
            xMin = yMin = xMax = yMax = 0;
        w = static_cast<int>(xMax - xMin + 4);
        h = static_cast<int>(yMax - yMin + 4);
        int ox = 0, by = 0;
        if (anchor >= 0 && anchor <= 8) {
            ox = anchor % 3 == 0 ? x : anchor % 3 == 1 ? x - w / 2 : x - w;
            by = anchor / 3 == 0 ? y + h : anchor / 3 == 1 ? y + h / 2 : y;
        }
        const uint32_t t[3] = {image.red(color), image.green(color), image.blue(color)};
        for (auto &g : glyphs) {
            if (FT_Glyph_To_Bitmap(&g.glyph, FT_RENDER_MODE_NORMAL, nullptr, 1) == 0) {
                auto *bg = reinterpret_cast<FT_BitmapGlyph>(g.glyph);
                for (unsigned r = 0; r < bg->bitmap.rows; ++r)
                    for (unsigned col = 0; col < bg->bitmap.width; ++col) {
                        int px = ox + static_cast<int>(g.x) + bg->left + static_cast<int>(col);
                        int py = by + static_cast<int>(g.y) - bg->top + static_cast<int>(r);
                        if (px < 0 || py < 0 || px >= image.width() || py >= image.height())
                            continue;
                        uint32_t L = bg->bitmap.buffer[r * bg->bitmap.pitch + col], N = 255 - L;
                        uint64_t word = image.pixel(px, py);
                        uint32_t c[3] = {image.red(word), image.green(word), image.blue(word)};
                        for (int k = 0; k < 3; ++k)
                            if (image.textBlendMode() == 0 || (image.textBlendMode() == 1 && k == 1))
                                c[k] = (N * c[k] + (c[k] ^ t[k]) * L) / 255;
                        if (image.textBlendMode() == 0 || image.textBlendMode() == 1)
                            image.setPixel(px, py, image.pack(c[0], c[1], c[2]));
                    }
            }
            FT_Done_Glyph(g.glyph);
        }
    }
};

void randomFill(QiImage &image, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelRgb(x, y, rng() & image.mask(), rng() & image.mask(), rng() & image.mask());
}

bool sameImage(const QiImage &a, const QiImage &b)
{
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
    return true;
}

} // namespace

TEST(QiFont, MissingFaceDrawsNothing)
{
    std::string logged;
    auto previous = swapLogOutput(std::make_unique<CaptureOutput>(logged));
    QiFont font("/nonexistent/eterna.ttf", 24, 144);
    swapLogOutput(std::move(previous));
    EXPECT_FALSE(font.ok());
    EXPECT_EQ(logged, "Info: QiFont: couldn't create new face (/nonexistent/eterna.ttf)\n");

    QiImage image(20, 20, 8);
    image.fill(0x010203);
    int32_t w = -1, h = -1;
    EXPECT_FALSE(drawText(image, font, "Text", 0xFFFFFF, 5, 5, w, h, true, 0));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(image.pixel(3, 3), 0x010203u);
}

TEST(QiFont, EmptyTextIsAFourByFourBoxAndOnlyTheFrameIsDrawn)
{
    QiFont font(kFonts + "eterna.ttf", 24, 144);
    ASSERT_TRUE(font.ok());
    QiImage image(30, 30, 10);
    const uint64_t bg = image.pack(100, 200, 300), ink = image.pack(1023, 0, 5);
    image.fill(bg);
    int32_t w = 0, h = 0;
    ASSERT_TRUE(drawText(image, font, "", ink, 10, 10, w, h, false, 0));
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 4);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(image.pixel(x, y), bg);

    // Anchor 0 at (10, 10): origin 10, baseline 14; the frame runs from
    // (8, 12) to (12, 16).
    ASSERT_TRUE(drawText(image, font, "", ink, 10, 10, w, h, true, 0));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            bool edge = (x >= 8 && x <= 12 && (y == 12 || y == 16)) || (y >= 12 && y <= 16 && (x == 8 || x == 12));
            ASSERT_EQ(image.pixel(x, y), edge ? ink : bg) << x << "," << y;
        }
    // A frame hanging over the corner is clipped, not wrapped.
    // At (-1, -1) it runs from (-3, 1) to (1, 5).
    image.fill(bg);
    ASSERT_TRUE(drawText(image, font, "", ink, -1, -1, w, h, true, 0));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            bool edge = (x <= 1 && (y == 1 || y == 5)) || (x == 1 && y >= 1 && y <= 5);
            ASSERT_EQ(image.pixel(x, y), edge ? ink : bg) << x << "," << y;
        }
}

TEST(QiFont, MatchesThePerPixelDefinition)
{
    const std::string path = kFonts + "eterna.ttf";
    QiFont font(path, 24, 144);
    Reference ref(path, 24, 144);
    ASSERT_TRUE(font.ok());
    const char *texts[] = {"Colorbars", "AVATAR To: 1080p59.94 \x80\xE9", "", "  ", "W"};
    for (int mode : {0, 1, 2}) {
        for (int anchor = -1; anchor <= 9; ++anchor) {
            for (const char *text : texts) {
                QiImage fast(400, 120, 10), slow(400, 120, 10);
                randomFill(fast, 3);
                randomFill(slow, 3);
                fast.setTextBlendMode(mode);
                slow.setTextBlendMode(mode);
                const uint64_t ink = fast.pack(940, 64, 512);
                int32_t fw = 0, fh = 0;
                int sw = 0, sh = 0;
                ASSERT_TRUE(drawText(fast, font, text, ink, 200, 60, fw, fh, false, anchor));
                ref.draw(slow, text, ink, 200, 60, sw, sh, anchor);
                ASSERT_EQ(fw, sw) << text;
                ASSERT_EQ(fh, sh) << text;
                ASSERT_TRUE(sameImage(fast, slow)) << "mode " << mode << " anchor " << anchor << " " << text;
            }
        }
    }
}

TEST(QiFont, AnchorsAndBlendModes)
{
    QiFont font(kFonts + "eterna.ttf", 16, 96);
    ASSERT_TRUE(font.ok());
    // The same drawing, shifted by the anchor's offset.
    auto render = [&](int anchor, int x, int y, int32_t &w, int32_t &h) {
        auto image = std::make_unique<QiImage>(200, 100, 8);
        drawText(*image, font, "Hg", image->pack(255, 255, 255), x, y, w, h, true, anchor);
        return image;
    };
    int32_t w0, h0;
    auto base = render(0, 80, 40, w0, h0);
    for (int anchor = 0; anchor <= 8; ++anchor) {
        int32_t w, h;
        int dx = anchor % 3 == 0 ? 0 : anchor % 3 == 1 ? w0 / 2 : w0;
        int dy = anchor / 3 == 0 ? 0 : anchor / 3 == 1 ? h0 - h0 / 2 : h0;
        auto shifted = render(anchor, 80 + dx, 40 + dy, w, h);
        EXPECT_EQ(w, w0);
        EXPECT_EQ(h, h0);
        EXPECT_TRUE(sameImage(*base, *shifted)) << anchor;
    }
    // Codes outside 0-8 put origin and baseline at 0, like anchor 6 at (0, 0).
    int32_t w, h;
    auto outside = render(42, 80, 40, w, h);
    auto bottomLeft = render(6, 0, 0, w, h);
    EXPECT_TRUE(sameImage(*outside, *bottomLeft));

    // Mode 1 changes green only; mode 0 turns fully covered pixels of the
    // text colour into 0.
    QiImage image(200, 100, 10);
    const uint64_t c = image.pack(700, 300, 1000);
    image.fill(c);
    image.setTextBlendMode(1);
    drawText(image, font, "Hg", image.pack(5, 1023, 9), 100, 50, w, h, false, 4);
    int greenChanged = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            uint64_t p = image.pixel(x, y);
            ASSERT_EQ(image.red(p), 700u);
            ASSERT_EQ(image.blue(p), 1000u);
            greenChanged += image.green(p) != 300u;
        }
    EXPECT_GT(greenChanged, 20);

    image.fill(c);
    image.setTextBlendMode(0);
    drawText(image, font, "Hg", c, 100, 50, w, h, false, 4);
    int zero = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            uint64_t p = image.pixel(x, y);
            // N*c/255 per component: never above c, the same fraction in all three.
            ASSERT_LE(image.red(p), 700u);
            zero += p == 0;
        }
    EXPECT_GT(zero, 10);
}

TEST(QiFont, KerningGlyphLimitAndTheRightEdge)
{
    const std::string path = kFonts + "eterna.ttf";
    QiFont font(path, 24, 144);
    Reference ref(path, 24, 144);
    ASSERT_TRUE(font.ok());
    ASSERT_TRUE(FT_HAS_KERNING(ref.face));
    auto glyphBox = [&](char c, FT_BBox &box) {
        FT_Load_Glyph(ref.face, FT_Get_Char_Index(ref.face, c), FT_LOAD_DEFAULT);
        FT_Glyph g;
        FT_Get_Glyph(ref.face->glyph, &g);
        FT_Glyph_Get_CBox(g, FT_GLYPH_BBOX_PIXELS, &box);
        FT_Done_Glyph(g);
        return ref.face->glyph->advance.x >> 6;
    };
    FT_BBox a, v;
    long advanceA = glyphBox('A', a);
    glyphBox('V', v);
    FT_Vector kern;
    FT_Get_Kerning(ref.face, FT_Get_Char_Index(ref.face, 'A'), FT_Get_Char_Index(ref.face, 'V'), FT_KERNING_DEFAULT,
                   &kern);
    ASSERT_LT(kern.x >> 6, 0); // "AV" kerns in this face
    QiImage image(400, 100, 8);
    int32_t w, h;
    drawText(image, font, "AV", 0, 0, 0, w, h, false, 0);
    EXPECT_EQ(w, (v.xMax + advanceA + (kern.x >> 6)) - a.xMin + 4);

    // At most 256 glyphs are laid out.
    QiFont small(path, 8, 72);
    QiImage wide(4000, 20, 8);
    int32_t w255, w256, w300, hh;
    drawText(wide, small, std::string(255, '.').c_str(), 0, 0, 0, w255, hh);
    drawText(wide, small, std::string(256, '.').c_str(), 0, 0, 0, w256, hh);
    drawText(wide, small, std::string(300, '.').c_str(), 0, 0, 0, w300, hh);
    EXPECT_GT(w256, w255);
    EXPECT_EQ(w300, w256);

    // Glyphs whose pen position lies beyond the image width are dropped;
    // the earlier ones are drawn as on a wider image.
    FT_BBox box;
    long advanceW = glyphBox('W', box);
    const int narrowWidth = 100;
    size_t kept = static_cast<size_t>(narrowWidth / advanceW) + 1; // pens 0, adv, ... <= width
    QiImage narrow(narrowWidth, 100, 8), full(1000, 100, 8);
    int32_t nw, nh, fw, fh;
    drawText(narrow, font, "WWWWWWWWWW", narrow.pack(255, 255, 255), 0, 0, nw, nh, false, 0);
    drawText(full, font, std::string(kept, 'W').c_str(), full.pack(255, 255, 255), 0, 0, fw, fh, false, 0);
    EXPECT_LT(kept, 10u);
    EXPECT_EQ(nw, fw);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < narrowWidth; ++x)
            ASSERT_EQ(narrow.pixel(x, y), full.pixel(x, y));
}
