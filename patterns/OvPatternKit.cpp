#include "OvPatternKit.h"

#include "OvCore.h"
#include "QiRaster.h"
#include "QiRowStore.h"
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
    const size_t words = static_cast<size_t>(x1 - x0);
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    // A frame-sized copy streams past the cache, which keeps one core up
    // with memory.
    const bool large = static_cast<size_t>(rows) * words * sizeof(uint64_t) >= kQiStreamBytes;
    for (int32_t j = 0; j < rows; ++j) {
        uint64_t *dst = r.row(static_cast<int32_t>(y0) + j) + x0;
        if (large)
            qiStreamCopy(dst, src, words, false);
        else
            std::memcpy(dst, src, words * sizeof(uint64_t));
    }
    if (large)
        qiStreamFence();
}

void ovCopyRows(QiRaster &r, int32_t y, int32_t h, const std::function<const uint64_t *(int32_t)> &source)
{
    if (!r.data() || h <= 0 || r.width() <= 0)
        return;
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(int64_t{y} + h, r.height());
    if (y0 >= y1)
        return;
    const size_t words = static_cast<size_t>(r.width());
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    const bool large = static_cast<size_t>(rows) * words * sizeof(uint64_t) >= kQiStreamBytes;
    // As ovFillRows: one core streaming keeps up with memory.
    for (int32_t j = 0; j < rows; ++j) {
        const int32_t row = static_cast<int32_t>(y0) + j;
        if (const uint64_t *src = source(row)) {
            if (large)
                qiStreamCopy(r.row(row), src, words, false);
            else
                std::memcpy(r.row(row), src, words * sizeof(uint64_t));
        }
    }
    if (large)
        qiStreamFence();
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

void ovForEachRow(QiRaster &r, int32_t y0, int32_t y1, const std::function<void(int32_t, uint64_t *)> &fill)
{
    y0 = std::max(y0, 0);
    y1 = std::min(y1, r.height());
    if (!r.data() || y0 >= y1 || r.width() <= 0)
        return;
    auto body = [&](int32_t begin, int32_t end) {
        for (int32_t j = begin; j < end; ++j)
            fill(y0 + j, r.row(y0 + j));
    };
    const int32_t rows = y1 - y0;
    // Rows that are computed pixel by pixel: a large area is worth both cores.
    if (static_cast<size_t>(rows) * static_cast<size_t>(r.width()) * sizeof(uint64_t) < (size_t{8} << 20))
        body(0, rows);
    else
        QiWorkerPool::shared().run(rows, 16, body);
}

namespace {

struct ClippedRect {
    uint64_t colour;
    int32_t x0, x1, y0, y1;
};

// Rows y0 .. y1-1 all look like one composed row; only the spans some
// rectangle covers are written.
struct RowRun {
    int32_t y0, y1;
    size_t row; // offset of the composed row in the scratch
    std::vector<std::pair<int32_t, int32_t>> spans;
};

// Composed rows beyond this many words would cost more memory than the
// copies save; such a list is painted rectangle by rectangle instead.
constexpr size_t kComposeBudgetWords = size_t{2} << 20;

} // namespace

void ovPaintRects(QiRaster &r, const std::vector<OvRect> &rects)
{
    if (!r.data())
        return;
    const int64_t width = r.width(), height = r.height();
    std::vector<ClippedRect> clipped;
    clipped.reserve(rects.size());
    std::vector<int32_t> cuts;
    cuts.reserve(2 * rects.size());
    for (const OvRect &q : rects) {
        const int64_t w = q.w == -1 ? width - q.x : q.w, h = q.h == -1 ? height - q.y : q.h;
        const int64_t x0 = std::max<int64_t>(q.x, 0), x1 = std::min<int64_t>(int64_t{q.x} + w, width);
        const int64_t y0 = std::max<int64_t>(q.y, 0), y1 = std::min<int64_t>(int64_t{q.y} + h, height);
        if (x0 >= x1 || y0 >= y1)
            continue;
        clipped.push_back({q.colour, static_cast<int32_t>(x0), static_cast<int32_t>(x1), static_cast<int32_t>(y0),
                           static_cast<int32_t>(y1)});
        cuts.push_back(static_cast<int32_t>(y0));
        cuts.push_back(static_cast<int32_t>(y1));
    }
    if (clipped.empty())
        return;
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    if ((cuts.size() - 1) * static_cast<size_t>(width) > kComposeBudgetWords) {
        for (const ClippedRect &c : clipped)
            r.fillRect(c.colour, c.x0, c.y0, c.x1 - c.x0, c.y1 - c.y0);
        return;
    }

    // The render thread paints every frame: its scratch is kept.
    thread_local std::vector<uint64_t> scratch;
    scratch.resize((cuts.size() - 1) * static_cast<size_t>(width));
    std::vector<RowRun> runs;
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const int32_t a = cuts[i], b = cuts[i + 1];
        uint64_t *row = scratch.data() + runs.size() * static_cast<size_t>(width);
        spans.clear();
        for (const ClippedRect &c : clipped) {
            if (c.y0 > a || c.y1 < b)
                continue;
            std::fill(row + c.x0, row + c.x1, c.colour);
            spans.emplace_back(c.x0, c.x1);
        }
        if (spans.empty())
            continue;
        std::sort(spans.begin(), spans.end());
        RowRun run{a, b, static_cast<size_t>(row - scratch.data()), {}};
        for (const auto &s : spans) {
            if (!run.spans.empty() && s.first <= run.spans.back().second)
                run.spans.back().second = std::max(run.spans.back().second, s.second);
            else
                run.spans.push_back(s);
        }
        runs.push_back(std::move(run));
    }

    const uint64_t *base = scratch.data();
    // Frame-sized paints stream past the cache, as ovFillRows does.
    const bool large = static_cast<size_t>(runs.back().y1 - runs.front().y0) * static_cast<size_t>(width) *
                           sizeof(uint64_t) >= kQiStreamBytes;
    for (const RowRun &run : runs) {
        const uint64_t *src = base + run.row;
        for (int32_t y = run.y0; y < run.y1; ++y) {
            uint64_t *out = r.row(y);
            for (const auto &s : run.spans) {
                const size_t n = static_cast<size_t>(s.second - s.first);
                if (large)
                    qiStreamCopy(out + s.first, src + s.first, n, false);
                else
                    std::memcpy(out + s.first, src + s.first, n * sizeof(uint64_t));
            }
        }
    }
    if (large)
        qiStreamFence();
}

void ovDrawLabel(OvCore *engine, QiRaster &r, const char *text, uint64_t colour, int32_t x, int32_t y)
{
    QiFont *font = engine ? engine->font(OvCore::kLabelFont) : nullptr;
    if (!font)
        return;
    int32_t w = 0, h = 0;
    drawText(r, *font, text, colour, x, y, w, h, false, 4);
}
