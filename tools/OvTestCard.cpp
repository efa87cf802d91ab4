// Draws the Nimbra test card, the proofing image behind the tray's
// "Nimbra-Test-Card-v" entry, with the generator's own imaging library.
// Built and run at build time for each vertical resolution.
#include "QiFont.h"
#include "QiImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The card is laid out on a 1920 x 1080 design grid and scaled.
struct Card {
    QiImage &img;
    QiFont &small;
    QiFont &large;
    double s; // pixels per design unit

    int u(double v) const { return static_cast<int>(std::lround(v * s)); }
    uint64_t rgb(int r, int g, int b) const { return img.pack(r, g, b); }
    uint64_t grey(int v) const { return rgb(v, v, v); }
    void rect(uint64_t c, double x, double y, double w, double h)
    {
        img.fillRect(c, u(x), u(y), std::max(1, u(x + w) - u(x)), std::max(1, u(y + h) - u(y)));
    }
    // Text colours are XORed into the background: 0x80 per component keeps
    // any background readable, white inverts it.
    void text(QiFont &f, const std::string &t, double x, double y, int anchor, bool invert = false)
    {
        int32_t w = 0, h = 0;
        drawText(img, f, t.c_str(), invert ? grey(255) : grey(128), u(x), u(y), w, h, false, anchor);
    }
};

// 75% bars, white to blue, in 8-bit code values.
const int kBars[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                         {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};

// Skin tones and memory colours (sRGB, 8 bits): six skin tones from dark to
// light, then sky, foliage, flower, grass, sunset orange, lemon, brick, sea.
struct Patch {
    int r, g, b;
    const char *name;
};
const Patch kPatches[12] = {
    {115, 82, 68, "dark skin"}, {160, 110, 85, "tan skin"},   {194, 150, 130, "light skin"},
    {224, 172, 146, "fair"},    {141, 85, 36, "deep"},        {255, 219, 172, "pale"},
    {98, 122, 157, "sky"},      {87, 108, 67, "foliage"},     {133, 128, 177, "flower"},
    {103, 189, 170, "teal"},    {214, 126, 44, "orange"},     {231, 199, 31, "yellow"},
};

void drawGridAndCircle(Card &c)
{
    const int w = c.img.width(), h = c.img.height();
    c.img.fill(c.grey(48));
    const uint64_t line = c.grey(150);
    const int lw = std::max(1, c.u(2));
    // 16 x 9 squares of 120 units, lines centred on the cell edges.
    for (int i = 0; i <= 16; ++i) {
        const int x = std::min(w - lw, std::max(0, c.u(i * 120.0) - lw / 2));
        c.img.fillRect(line, x, 0, lw, h);
    }
    for (int j = 0; j <= 9; ++j) {
        const int y = std::min(h - lw, std::max(0, c.u(j * 120.0) - lw / 2));
        c.img.fillRect(line, 0, y, w, lw);
    }
    // Edge markers: one-pixel white border, then arrows at the mid points.
    c.img.fillRect(c.grey(255), 0, 0, w, 1);
    c.img.fillRect(c.grey(255), 0, h - 1, w, 1);
    c.img.fillRect(c.grey(255), 0, 0, 1, h);
    c.img.fillRect(c.grey(255), w - 1, 0, 1, h);
    for (int k = 0; k < c.u(24); ++k) {
        c.img.fillRect(c.grey(255), w / 2 - k / 2, k, k + 1, 1);
        c.img.fillRect(c.grey(255), w / 2 - k / 2, h - 1 - k, k + 1, 1);
        c.img.fillRect(c.grey(255), k, h / 2 - k / 2, 1, k + 1);
        c.img.fillRect(c.grey(255), w - 1 - k, h / 2 - k / 2, 1, k + 1);
    }
    // The geometry circle touches the top and bottom grid lines of the safe area.
    const int r = c.u(480);
    for (int t = 0; t < lw + 1; ++t)
        c.img.drawCircle(c.grey(235), w / 2, h / 2, r - t);
}

void drawBarsAndSteps(Card &c)
{
    // Colour bars over the top centre.
    for (int i = 0; i < 7; ++i)
        c.rect(c.rgb(kBars[i][0], kBars[i][1], kBars[i][2]), 360 + i * 1200.0 / 7, 120, 1200.0 / 7, 120);
    // Eleven grey steps, 0 to 255, each with its code value.
    for (int i = 0; i <= 10; ++i) {
        const int v = std::min(255, static_cast<int>(std::lround(i * 25.5)));
        const double x = 360 + i * 1200.0 / 11;
        c.rect(c.grey(v), x, 240, 1200.0 / 11, 120);
        c.text(c.small, std::to_string(v), x + 600.0 / 11, 300, 4);
    }
}

void drawPatches(Card &c)
{
    // Two rows of six to the left of centre, on a dark backdrop so the
    // labels do not cross the grid.
    c.rect(c.grey(24), 352, 372, 492, 296);
    for (int i = 0; i < 12; ++i) {
        const double x = 360 + (i % 6) * 80.0, y = 380 + (i / 6) * 110.0;
        c.rect(c.rgb(kPatches[i].r, kPatches[i].g, kPatches[i].b), x, y, 76, 76);
        c.text(c.small, kPatches[i].name, x + 38, y + 92, 4, true);
    }
    // Primaries and secondaries at 100%, for the gamut corners.
    const int full[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0}};
    for (int i = 0; i < 6; ++i)
        c.rect(c.rgb(full[i][0], full[i][1], full[i][2]), 360 + i * 80.0, 600, 76, 60);
}

void drawWedges(Card &c)
{
    // Gratings of one to four pixels per line, horizontal and vertical, on
    // the right of centre: black and white at the output's own pixel pitch.
    const int x0 = c.u(1000), y0 = c.u(380), bw = c.u(130), bh = c.u(130);
    c.rect(c.grey(24), 992, 372, 560, 296);
    for (int g = 0; g < 4; ++g) {
        const int period = g + 1;
        const int bx = x0 + g * (bw + c.u(8));
        for (int y = 0; y < bh / 2; ++y)
            for (int x = 0; x < bw; ++x)
                c.img.setPixel(bx + x, y0 + y, ((x / period) & 1) ? c.grey(255) : c.grey(0));
        for (int y = bh / 2; y < bh; ++y)
            for (int x = 0; x < bw; ++x)
                c.img.setPixel(bx + x, y0 + y, (((y - bh / 2) / period) & 1) ? c.grey(255) : c.grey(0));
        c.text(c.small, std::to_string(period) + " px", (bx + bw / 2) / c.s, (y0 + bh) / c.s + 16, 4, true);
    }
    // A wedge: 40 lines from 12 units apart at the top to one pixel apart
    // at the bottom; where they merge into grey is the resolving limit.
    const int wx = c.u(1000), wy = c.u(560), ww = c.u(540), wh = c.u(100);
    c.img.fillRect(c.grey(0), wx, wy, ww, wh);
    for (int i = 0; i < 40; ++i) {
        const int top = wx + c.u(10) + i * c.u(12);
        const int bottom = wx + c.u(150) + i;
        c.img.drawLine(c.grey(255), top, wy, bottom, wy + wh - 1);
    }
}

void drawLowHighSteps(Card &c)
{
    // Near black 0..20 and near white 235..255, steps of 2 and a label each.
    for (int i = 0; i <= 10; ++i) {
        const int lo = i * 2, hi = 235 + i * 2;
        const double x = 360 + i * 600.0 / 11;
        c.rect(c.grey(lo), x, 700, 600.0 / 11, 90);
        c.text(c.small, std::to_string(lo), x + 300.0 / 11, 745, 4);
        const double xh = 960 + i * 600.0 / 11;
        c.rect(c.grey(hi), xh, 700, 600.0 / 11, 90);
        c.text(c.small, std::to_string(hi), xh + 300.0 / 11, 745, 4);
    }
}

void drawTitle(Card &c, const std::string &name)
{
    c.rect(c.grey(0), 480, 840, 960, 110);
    c.text(c.large, name, 960, 880, 4, true);
    c.text(c.small, std::to_string(c.img.width()) + " x " + std::to_string(c.img.height()) +
                        "   8-bit code values   Orvane",
           960, 928, 4, true);
    // Centre cross.
    const int w = c.img.width(), h = c.img.height(), a = c.u(30);
    c.img.fillRect(c.grey(255), w / 2 - a, h / 2, 2 * a + 1, 1);
    c.img.fillRect(c.grey(255), w / 2, h / 2 - a, 1, 2 * a + 1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s OUTPUT.png WIDTH HEIGHT FONT\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    if (w < 320 || h < 180 || w > 8192 || h > 4320) {
        std::fprintf(stderr, "%s: size %s x %s out of range\n", argv[0], argv[2], argv[3]);
        return 2;
    }
    QiImage img(w, h, 8);
    if (!img.data()) {
        std::fprintf(stderr, "%s: no memory for %d x %d\n", argv[0], w, h);
        return 1;
    }
    const double s = std::min(w / 1920.0, h / 1080.0);
    QiFont small(argv[4], static_cast<int>(std::lround(13 * s)), 72);
    QiFont large(argv[4], static_cast<int>(std::lround(44 * s)), 72);
    if (!small.ok() || !large.ok()) {
        std::fprintf(stderr, "%s: cannot load the font %s\n", argv[0], argv[4]);
        return 1;
    }
    Card card{img, small, large, s};
    drawGridAndCircle(card);
    drawBarsAndSteps(card);
    drawPatches(card);
    drawWedges(card);
    drawLowHighSteps(card);
    drawTitle(card, "Nimbra-Test-Card");
    if (!img.savePng(argv[1])) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
