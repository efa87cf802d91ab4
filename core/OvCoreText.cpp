// Caption fonts and the title overlay.
#include "OvCore.h"
#include "QiFont.h"
#include "QiRaster.h"

namespace {
struct FontSpec {
    const char *file;
    int points;
};
const FontSpec kFonts[OvCore::kFontCount] = {
    {"eterna.ttf", 16}, {"eterna.ttf", 24}, {"eterna.ttf", 32}, {"plexifont_ot.otf", 72}, {"spincycle_3d_ot.otf", 72},
};
} // namespace

void OvCore::loadFonts()
{
    // Sized for the raster at start; not recreated when the format changes.
    const int dpi = m_raster->height() * 144 / 1080;
    for (int i = 0; i < kFontCount; ++i)
        m_fonts[i] = std::make_unique<QiFont>(m_fontFolder + "/" + kFonts[i].file, kFonts[i].points, dpi);
}

QiFont *OvCore::font(int index) const
{
    return index >= 0 && index < kFontCount ? m_fonts[index].get() : nullptr;
}

void OvCore::drawTitle(const char *title, const char *extra, QiRaster *raster)
{
    if (!m_gen.titling.load() || !m_fonts[kTitleFont])
        return;
    QiFont &f = *m_fonts[kTitleFont];
    const int s = raster->bits() - 8;
    const uint64_t white = raster->pack(235u << s, 235u << s, 235u << s);
    const int32_t x = raster->width() * 5 / 100;
    const int32_t y0 = raster->height() * 40 / 1080;
    int32_t w, h1 = 0, h2 = 0;
    drawText(*raster, f, title, white, x, y0, w, h1);
    const std::string format = raster->currentFormat();
    drawText(*raster, f, format.c_str(), white, x, y0 + h1, w, h2);
    if (extra)
        drawText(*raster, f, extra, white, x, y0 + 2 * h2, w, h1);
}
