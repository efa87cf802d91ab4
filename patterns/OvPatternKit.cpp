#include "OvPatternKit.h"

#include "OvCore.h"
#include "QiRaster.h"
#include "QiWorkerPool.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

void ovFinishFrame(OvCore *engine, QiRaster &r, const char *title, const char *extra, int32_t index, bool exact)
{
    if (engine)
        engine->drawTitle(title, extra, &r);
    r.render(index, exact);
}

bool ovRegisterAliases(OvCore *engine, const char *pattern, const std::vector<OvAliasDef> &aliases)
{
    QiParams p;
    p.set("Pattern", pattern);
    for (const OvAliasDef &a : aliases) {
        if (a.clearFirst) {
            p.clear();
            p.set("Pattern", pattern);
        }
        for (const OvAliasSetting &s : a.settings)
            p.set(s.key, s.value);
        engine->makeAlias(a.name, p);
    }
    return true;
}

void ovFillRows(QiRaster &r, const uint64_t *row, int32_t x, int32_t w, int32_t y, int32_t h)
{
    if (!r.data() || !row || w <= 0 || h <= 0)
        return;
    // Cut to the frame; the run's first pixel moves with the left edge.
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(int64_t{x} + w, r.width());
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(int64_t{y} + h, r.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const uint64_t *src = row + (x0 - x);
    const size_t bytes = static_cast<size_t>(x1 - x0) * sizeof(uint64_t);
    auto copy = [&](int32_t begin, int32_t end) {
        for (int32_t j = begin; j < end; ++j)
            std::memcpy(r.row(static_cast<int32_t>(y0) + j) + x0, src, bytes);
    };
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    // Store bandwidth, which one core does not saturate on a frame-sized copy.
    if (static_cast<size_t>(rows) * bytes < (size_t{8} << 20))
        copy(0, rows);
    else
        QiWorkerPool::shared().run(rows, 16, copy);
}

void ovCopyRows(QiRaster &r, int32_t y, int32_t h, const std::function<const uint64_t *(int32_t)> &source)
{
    if (!r.data() || h <= 0 || r.width() <= 0)
        return;
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(int64_t{y} + h, r.height());
    if (y0 >= y1)
        return;
    const size_t bytes = static_cast<size_t>(r.width()) * sizeof(uint64_t);
    auto copy = [&](int32_t begin, int32_t end) {
        for (int32_t j = begin; j < end; ++j) {
            const int32_t row = static_cast<int32_t>(y0) + j;
            if (const uint64_t *src = source(row))
                std::memcpy(r.row(row), src, bytes);
        }
    };
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    if (static_cast<size_t>(rows) * bytes < (size_t{8} << 20))
        copy(0, rows);
    else
        QiWorkerPool::shared().run(rows, 16, copy);
}

void ovOutline(QiRaster &r, uint64_t word, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    const int32_t left = std::min(x0, x1), right = std::max(x0, x1);
    const int32_t top = std::min(y0, y1), bottom = std::max(y0, y1);
    // Sides as rectangles one pixel thick, their lengths cut to just beyond
    // the frame first so that far-off corners cannot overflow them.
    const int64_t l = std::max<int64_t>(left, -1), rr = std::min<int64_t>(right, r.width());
    const int64_t t = std::max<int64_t>(top, -1), b = std::min<int64_t>(bottom, r.height());
    if (l <= rr) {
        r.fillRect(word, static_cast<int32_t>(l), top, static_cast<int32_t>(rr - l + 1), 1);
        r.fillRect(word, static_cast<int32_t>(l), bottom, static_cast<int32_t>(rr - l + 1), 1);
    }
    if (t <= b) {
        r.fillRect(word, left, static_cast<int32_t>(t), 1, static_cast<int32_t>(b - t + 1));
        r.fillRect(word, right, static_cast<int32_t>(t), 1, static_cast<int32_t>(b - t + 1));
    }
}
