#pragma once
// Renders requests straight into a raster double, as the render thread
// would: "Pattern" resolved through the engine's registry and aliases (an
// alias's options merged), then the renderer's render on the caller's
// thread. The engine runs on the same raster, so its fonts are sized for
// this height, and every built-in renderer is registered; nothing is posted
// to it unless a test asks for generator options, so no polling.
#include "OvBuiltins.h"
#include "OvCore.h"
#include "TestRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

struct Rgb {
    uint32_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};
inline std::ostream &operator<<(std::ostream &os, const Rgb &c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

using Request = std::initializer_list<std::pair<const char *, const char *>>;

class PatternHarness {
public:
    // A word no pattern draws: components far beyond any depth.
    static constexpr uint64_t kPoison = 0xFFFF'FFFF'FFFF'FFFFull;

    // black/white: the raster's levels (K, W) when not -1; set before the
    // engine starts, so defaults rewritten at registration follow them.
    PatternHarness(int32_t w, int32_t h, int32_t bits = 10, int32_t black = -1, int32_t white = -1)
        : raster(w, h, bits)
    {
        if (black >= 0 && white >= 0)
            raster.setLevels(black, white);
        engine.start(&raster, ORVANE_DATA_DIR, ovBuiltinRenderers());
    }
    ~PatternHarness() { engine.shutdown(); }

    // The renderer the request selected (null: nothing drawn).
    OvPatternRenderer *render(const QiParams &request)
    {
        QiParams p = request;
        const char *name = nullptr;
        if (!p.get("Pattern", name))
            return nullptr;
        OvPatternRenderer *r = engine.resolvePattern(name, p);
        if (r)
            r->render(&engine, &raster, p);
        return r;
    }
    OvPatternRenderer *render(Request request)
    {
        QiParams p;
        for (const auto &kv : request)
            p.set(kv.first, kv.second);
        return render(p);
    }

    // Generator options go through the render thread; returns once they
    // are applied (a wait also covers the request in progress).
    void setGen(Request request)
    {
        QiParams p;
        for (const auto &kv : request)
            p.set(kv.first, kv.second);
        bool result;
        engine.waitTransaction(engine.post(p), result);
    }

    Rgb at(int32_t x, int32_t y) const
    {
        uint64_t w = raster.pixel(x, y);
        return {raster.red(w), raster.green(w), raster.blue(w)};
    }
    uint64_t grey(uint32_t v) const { return raster.pack(v, v, v); }
    void poison() { raster.fill(kPoison); }

    TestRaster raster;
    OvCore engine;
};

// A label's text, colour, font and centring: the glyph pixels the label
// font gives for text centred on (x, y) over a plain background of level bg
// must appear in the frame as they are, between columns x0 and x1 (the area
// under the label that has level bg).
inline ::testing::AssertionResult labelAt(PatternHarness &t, const char *text, uint32_t colour, uint32_t bg,
                                          int32_t x, int32_t y, int32_t x0, int32_t x1)
{
    TestRaster ref(t.raster.width(), t.raster.height(), t.raster.bits());
    ref.fill(t.grey(bg));
    int32_t w = 0, h = 0;
    QiFont *font = t.engine.font(OvCore::kLabelFont);
    if (!font || !font->ok())
        return ::testing::AssertionFailure() << "no label font";
    drawText(ref, *font, text, t.grey(colour), x, y, w, h, false, 4);
    size_t glyph = 0;
    for (int32_t j = std::max(0, y - h); j < std::min(ref.height(), y + h); ++j)
        for (int32_t i = std::max({0, x0, x - w}); i < std::min({ref.width(), x1, x + w}); ++i) {
            if (ref.pixel(i, j) == t.grey(bg))
                continue;
            ++glyph;
            if (ref.pixel(i, j) != t.raster.pixel(i, j))
                return ::testing::AssertionFailure() << "label \"" << text << "\" differs at " << i << "," << j;
        }
    if (glyph < 10)
        return ::testing::AssertionFailure() << "label \"" << text << "\" has no glyphs";
    return ::testing::AssertionSuccess();
}

// A pattern's options as the engine publishes them, one line each:
// "Name|DataType|Description" then the keys that follow from the type
// (defaults, limits, values) and the predicate, as key=value.
inline std::vector<std::string> publishedOptions(OvCore &engine, const char *pattern)
{
    std::vector<QiParams> opts;
    std::vector<std::string> lines;
    if (!engine.getPatternOpts(pattern, opts))
        return lines;
    for (const QiParams &o : opts) {
        auto get = [&](const char *key) {
            const char *v = nullptr;
            return o.get(key, v) ? std::string(v) : std::string();
        };
        std::string line = get("Name") + "|" + get("DataType") + "|" + get("Description");
        for (const auto &kv : o) {
            const std::string &k = kv.first;
            if (k == "Name" || k == "DataType" || k == "Description" || k.rfind("ui", 0) == 0)
                continue;
            line += "|" + k + "=" + kv.second;
        }
        if (!get("uiPredicatesOnField").empty())
            line += "|when " + get("uiPredicatesOnField") + "=" + get("uiPredicatesOnValue") + "/" +
                    get("uiPredicateLogic");
        lines.push_back(line);
    }
    return lines;
}