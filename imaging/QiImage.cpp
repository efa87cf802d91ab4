#include "QiImage.h"

#include "QiColor.h"
#include "QiFrameMemory.h"
#include "QiRowStore.h"
#include "QiLog.h"
#include "QiSinusoid.h"
#include "QiTargetClones.h"
#include "QiWorkerPool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

uint64_t *QiImage::allocatePixels(int32_t width, int32_t height)
{
    // The byte count the log line reports; an overflowing product asks for an
    // impossible size so the allocation fails like any other.
    uint64_t bytes = 0;
    bool overflow = width < 0 || height < 0 ||
                    __builtin_mul_overflow(static_cast<uint64_t>(width < 0 ? 0 : width),
                                           static_cast<uint64_t>(height < 0 ? 0 : height), &bytes) ||
                    __builtin_mul_overflow(bytes, uint64_t{8}, &bytes);
    if (overflow || bytes > std::numeric_limits<size_t>::max() / 2) {
        qiLog(2, "Couldn't allocate %d bytes for m_data\n",
              static_cast<int>(static_cast<int64_t>(width) * height * 8));
        return nullptr;
    }
    // Zero-filled, and a frame-sized picture in huge pages.
    auto *p = static_cast<uint64_t *>(qiAllocFrameMemory(static_cast<size_t>(bytes)));
    if (!p)
        qiLog(2, "Couldn't allocate %d bytes for m_data\n", static_cast<int>(bytes));
    return p;
}

void QiImage::freePixels(uint64_t *data, int32_t width, int32_t height)
{
    qiFreeFrameMemory(data, static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(uint64_t));
}

QiImage::QiImage(int32_t width, int32_t height, int32_t bits)
    : m_bits(bits), m_width(width), m_height(height)
{
    m_data = allocatePixels(width, height);
}

QiImage::QiImage(int32_t width, int32_t height, int32_t bits, Unfilled)
    : m_bits(bits), m_width(width), m_height(height)
{
    m_data = allocatePixels(width, height);
}

QiImage::~QiImage() { freePixels(m_data, m_width, m_height); }

bool QiImage::resize(int32_t width, int32_t height)
{
    uint64_t *fresh = allocatePixels(width, height);
    if (!fresh)
        return false;
    size_t oldCount = m_data ? static_cast<size_t>(m_width) * static_cast<size_t>(m_height) : 0;
    size_t newCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    size_t keep = std::min(oldCount, newCount);
    // The rest of the fresh array is zero already.
    if (keep)
        std::memcpy(fresh, m_data, keep * sizeof(uint64_t));
    freePixels(m_data, m_width, m_height);
    m_data = fresh;
    m_width = width;
    m_height = height;
    return true;
}

bool QiImage::setPixelRgb(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue)
{
    return setPixel(x, y, pack(red, green, blue));
}

bool QiImage::setPixel(int32_t x, int32_t y, uint64_t word)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return false;
    m_data[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)] = word;
    return true;
}

void QiImage::fill(uint64_t word)
{
    if (!m_data)
        return;
    const size_t count = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    // A frame-sized fill streams past the cache: one core then keeps up
    // with memory, and a second one would only wait for it.
    if (count * sizeof(uint64_t) < kQiStreamBytes)
        std::fill_n(m_data, count, word);
    else
        qiStreamFill(m_data, count, word);
}

// The primitives below clip once and write the pixel array directly rather
// than calling the virtual setPixel per pixel. That gives the same pixels
// only because no subclass changes what setPixel means (QiRaster and the
// file images inherit it); a subclass that did would have to override these
// too.

namespace {

// [lo, hi) of a span start..start+count-1 cut to [0, limit).
inline bool clipSpan(int64_t start, int64_t count, int64_t limit, int64_t &lo, int64_t &hi)
{
    lo = std::max<int64_t>(start, 0);
    hi = std::min<int64_t>(start + count, limit);
    return lo < hi;
}

// Calls fn(p) once for each distinct p = base + (i*len)/count, 0 <= i <
// count, with 0 <= p < limit. p is monotonic in i, so a huge count is
// walked by position with a binary search instead of index by index.
template <class F>
void forEachGridLine(int64_t base, int64_t len, int64_t count, int64_t limit, F fn)
{
    if (count <= 0 || limit <= 0)
        return;
    auto at = [&](int64_t i) { return base + (i * len) / count; };
    if (count <= 4 * limit + 16) {
        int64_t last = 0;
        bool any = false;
        for (int64_t i = 0; i < count; ++i) {
            int64_t p = at(i);
            if (p >= 0 && p < limit && (!any || p != last))
                fn(p);
            last = p;
            any = true;
        }
        return;
    }
    const bool rising = len >= 0;
    for (int64_t p = 0; p < limit; ++p) {
        // First i whose position has reached p in the direction of travel.
        int64_t lo = 0, hi = count;
        while (lo < hi) {
            int64_t mid = lo + (hi - lo) / 2;
            int64_t v = at(mid);
            if (rising ? v >= p : v <= p)
                hi = mid;
            else
                lo = mid + 1;
        }
        if (lo < count && at(lo) == p)
            fn(p);
    }
}

} // namespace

bool QiImage::fillRect(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h)
{
    int64_t ww = w == -1 ? static_cast<int64_t>(m_width) - x : w;
    int64_t hh = h == -1 ? static_cast<int64_t>(m_height) - y : h;
    int64_t x0, x1, y0, y1;
    if (!m_data || !clipSpan(x, ww, m_width, x0, x1) || !clipSpan(y, hh, m_height, y0, y1))
        return true;
    const size_t columns = static_cast<size_t>(x1 - x0);
    const int32_t rows = static_cast<int32_t>(y1 - y0);
    if (columns * static_cast<size_t>(rows) * sizeof(uint64_t) < kQiStreamBytes) {
        for (int64_t j = y0; j < y1; ++j)
            std::fill(row(static_cast<int32_t>(j)) + x0, row(static_cast<int32_t>(j)) + x1, word);
        return true;
    }
    // A large area (a bar of a frame) streams: ordinary stores into narrow
    // strips of long rows would read every line in first.
    for (int32_t j = 0; j < rows; ++j)
        qiStreamFill(row(static_cast<int32_t>(y0) + j) + x0, columns, word, false);
    qiStreamFence();
    return true;
}

void QiImage::blit(const QiImage *source, int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t w, int32_t h)
{
    if (!source || !source->m_data || !m_data)
        return;
    int64_t ww = w == -1 ? source->m_width : w;
    int64_t hh = h == -1 ? source->m_height : h;
    ww = std::min({ww, static_cast<int64_t>(m_width) - dx, static_cast<int64_t>(source->m_width) - sx});
    hh = std::min({hh, static_cast<int64_t>(m_height) - dy, static_cast<int64_t>(source->m_height) - sy});
    if (hh <= 0 || ww <= 0)
        return;
    // Offsets i, j that land inside both images; the cuts above already
    // hold the upper ends.
    int64_t i0 = std::max<int64_t>({0, -static_cast<int64_t>(sx), -static_cast<int64_t>(dx)});
    int64_t j0 = std::max<int64_t>({0, -static_cast<int64_t>(sy), -static_cast<int64_t>(dy)});
    if (i0 >= ww || j0 >= hh)
        return;
    for (int64_t j = j0; j < hh; ++j) {
        const uint64_t *s = source->row(static_cast<int32_t>(sy + j)) + sx + i0;
        uint64_t *d = row(static_cast<int32_t>(dy + j)) + dx + i0;
        size_t n = static_cast<size_t>(ww - i0);
        if (source != this) {
            std::memcpy(d, s, n * sizeof(uint64_t));
        } else {
            // A blit within one image copies pixel by pixel in row order,
            // so overlapping areas repeat what was just written.
            for (size_t k = 0; k < n; ++k)
                d[k] = s[k];
        }
    }
}

namespace {

using Wide = __int128;

// Division rounding towards minus and plus infinity (b > 0).
inline Wide floorDiv(Wide a, Wide b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
inline Wide ceilDiv(Wide a, Wide b) { return -floorDiv(-a, b); }

// Integer ranges [lo, hi] in increasing order, overlapping ones merged.
struct Span {
    int64_t lo, hi;
};
std::vector<Span> mergeSpans(std::vector<Span> spans)
{
    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.lo < b.lo; });
    std::vector<Span> out;
    for (const Span &s : spans) {
        if (s.lo > s.hi)
            continue;
        if (!out.empty() && s.lo <= out.back().hi + 1)
            out.back().hi = std::max(out.back().hi, s.hi);
        else
            out.push_back(s);
    }
    return out;
}

// Largest integer whose square is at most v.
inline uint64_t isqrt(unsigned __int128 v)
{
    uint64_t s = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (static_cast<unsigned __int128>(s) * s > v)
        --s;
    while (static_cast<unsigned __int128>(s + 1) * (s + 1) <= v)
        ++s;
    return s;
}

} // namespace

void QiImage::drawLine(uint64_t word, int32_t ax, int32_t ay, int32_t bx, int32_t by)
{
    if (!m_data)
        return;
    // Nothing of a line whose bounding box misses the image can show.
    if (std::max(ax, bx) < 0 || std::max(ay, by) < 0 || std::min(ax, bx) >= m_width ||
        std::min(ay, by) >= m_height)
        return;
    int64_t a1 = ax, b1 = ay, a2 = bx, b2 = by;
    int64_t dx = a2 - a1, dy = b2 - b1;
    int signX = dx < 0 ? -1 : 1, signY = dy < 0 ? -1 : 1;
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    const int64_t step = signX == signY ? 1 : -1;
    // A tie counts as vertical-major.
    const bool reverse = dy >= dx;
    if (reverse) {
        std::swap(a1, b1);
        std::swap(a2, b2);
        std::swap(dx, dy);
    }
    auto plot = [&](int64_t u, int64_t v) {
        int64_t px = reverse ? v : u, py = reverse ? u : v;
        if (px >= 0 && py >= 0 && px < m_width && py < m_height)
            m_data[static_cast<size_t>(py) * static_cast<size_t>(m_width) + static_cast<size_t>(px)] = word;
    };
    // Walk from the smaller major coordinate; the other end walks back.
    int64_t x, y, x1, y1;
    if (a1 > a2) {
        x = a2, y = b2, x1 = a1, y1 = b1;
    } else {
        x = a1, y = b1, x1 = a2, y1 = b2;
    }
    // Both ends first; then (dx-1)/4 double steps from each end and the
    // (dx-1) mod 4 pixels left in the middle.
    plot(x, y);
    if (dx == 0)
        return;
    plot(x1, y1);
    const int64_t xend = (dx - 1) / 4;
    const int64_t left = (dx - 1) % 4;
    const int64_t incr2 = 4 * dy - 2 * dx;
    const int64_t c = incr2 < 0 ? 2 * dy : 2 * (dy - dx);
    const int64_t incr1 = 2 * c;
    int64_t d = incr2 < 0 ? incr1 - dx : incr1 + dx;

    // The state after i double steps in closed form. d stays in a window of
    // width 2*dx, so the number of minor steps taken so far follows from i:
    // with incr2 < 0 one step in each double step where d >= 0, else one or
    // two (two where d > 0).
    const int64_t xs = x, ys = y, xe = x1, ye = y1;
    auto jump = [&](int64_t i) {
        const Wide wi = i, wdx = dx, wdy = dy;
        Wide steps, dd;
        if (incr2 < 0) {
            steps = floorDiv(4 * wdy * wi + wdx, 2 * wdx);
            dd = 4 * wdy - wdx + 4 * wdy * wi - 2 * wdx * steps;
        } else {
            const Wide twos = ceilDiv((4 * wdy - 2 * wdx) * wi - wdx, 2 * wdx);
            dd = 4 * wdy - 3 * wdx + (4 * wdy - 2 * wdx) * wi - 2 * wdx * twos;
            steps = wi + twos;
        }
        d = static_cast<int64_t>(dd);
        x = xs + 2 * i;
        x1 = xe - 2 * i;
        y = static_cast<int64_t>(ys + step * steps);
        y1 = static_cast<int64_t>(ye - step * steps);
    };
    auto doubleStep = [&]() {
        ++x;
        --x1;
        if (incr2 < 0) {
            if (d < 0) {
                plot(x, y);
                plot(++x, y);
                plot(x1, y1);
                plot(--x1, y1);
                d += incr1;
            } else {
                if (d < c) {
                    plot(x, y);
                    plot(++x, y += step);
                    plot(x1, y1);
                    plot(--x1, y1 -= step);
                } else {
                    plot(x, y += step);
                    plot(++x, y);
                    plot(x1, y1 -= step);
                    plot(--x1, y1);
                }
                d += incr2;
            }
        } else {
            if (d > 0) {
                plot(x, y += step);
                plot(++x, y += step);
                plot(x1, y1 -= step);
                plot(--x1, y1 -= step);
                d += incr1;
            } else {
                if (d < c) {
                    plot(x, y);
                    plot(++x, y += step);
                    plot(x1, y1);
                    plot(--x1, y1 -= step);
                } else {
                    plot(x, y += step);
                    plot(++x, y);
                    plot(x1, y1 -= step);
                    plot(--x1, y1);
                }
                d += incr2;
            }
        }
    };
    // Only double steps that put a pixel inside the image along the major
    // axis are walked: step i writes major coordinates xs+2i+1, xs+2i+2 and
    // xe-2i-1, xe-2i-2. The cost follows the image, not the line.
    const int64_t limit = reverse ? m_height : m_width;
    const std::vector<Span> spans = mergeSpans({
        {std::max<int64_t>(0, static_cast<int64_t>(ceilDiv(Wide(-xs) - 2, 2))),
         std::min<int64_t>(xend - 1, static_cast<int64_t>(floorDiv(Wide(limit) - 2 - xs, 2)))},
        {std::max<int64_t>(0, static_cast<int64_t>(ceilDiv(Wide(xe) - limit - 1, 2))),
         std::min<int64_t>(xend - 1, static_cast<int64_t>(floorDiv(Wide(xe) - 1, 2)))},
    });
    int64_t done = 0; // double steps the state stands after
    for (const Span &sp : spans) {
        if (sp.lo != done)
            jump(sp.lo);
        for (int64_t i = sp.lo; i <= sp.hi; ++i)
            doubleStep();
        done = sp.hi + 1;
    }
    if (done != xend)
        jump(xend);

    if (!left)
        return;
    if (incr2 < 0) {
        if (d < 0) {
            plot(++x, y);
            if (left > 1)
                plot(++x, y);
            if (left > 2)
                plot(--x1, y1);
        } else if (d < c) {
            plot(++x, y);
            if (left > 1)
                plot(++x, y += step);
            if (left > 2)
                plot(--x1, y1);
        } else {
            plot(++x, y += step);
            if (left > 1)
                plot(++x, y);
            if (left > 2)
                plot(--x1, y1 -= step);
        }
    } else {
        if (d > 0) {
            plot(++x, y += step);
            if (left > 1)
                plot(++x, y += step);
            if (left > 2)
                plot(--x1, y1 -= step);
        } else if (d < c) {
            plot(++x, y);
            if (left > 1)
                plot(++x, y += step);
            if (left > 2)
                plot(--x1, y1);
        } else {
            plot(++x, y += step);
            if (left > 1)
                plot(++x, y);
            if (left > 2) {
                if (d > c)
                    plot(--x1, y1 -= step);
                else
                    plot(--x1, y1);
            }
        }
    }
}

void QiImage::drawCircle(uint64_t word, int32_t cx, int32_t cy, int32_t r)
{
    if (!m_data)
        return;
    auto plot = [&](int64_t px, int64_t py) {
        if (px >= 0 && py >= 0 && px < m_width && py < m_height)
            m_data[static_cast<size_t>(py) * static_cast<size_t>(m_width) + static_cast<size_t>(px)] = word;
    };
    auto plot8 = [&](int64_t x, int64_t y) {
        plot(cx + x, cy + y);
        plot(cx - x, cy + y);
        plot(cx + x, cy - y);
        plot(cx - x, cy - y);
        plot(cx + y, cy + x);
        plot(cx - y, cy + x);
        plot(cx + y, cy - x);
        plot(cx - y, cy - x);
    };
    int64_t x = 0, y = r;
    int64_t d = (5 - 4 * static_cast<int64_t>(r)) / 4;
    auto next = [&]() {
        if (d < 0) {
            d += 2 * x + 3;
        } else {
            d += 2 * (x - y) + 5;
            --y;
        }
        ++x;
        plot8(x, y);
    };
    plot8(x, y);
    if (r < 16) {
        while (y > x)
            next();
        return;
    }

    // From r = 2 on, d starts at 2 - r, and at every step but the last the
    // walk stands at y(x) = the largest y with 4x^2 + (2y-1)^2 < 4r^2 - 3,
    // with 4d = 4(x+1)^2 + (2y-1)^2 - 4r^2 + 3. So it can start anywhere
    // short of the end: only columns x whose points can fall inside the
    // image are walked (cx +- x a column, or cy +- x a row), and the cost
    // follows the image rather than the radius.
    const Wide rr4 = 4 * Wide(r) * r;
    auto yAt = [&](int64_t at) -> int64_t {
        const Wide q = rr4 - 4 * Wide(at) * at - 3;
        if (q <= 1)
            return 0;
        const uint64_t s = isqrt(static_cast<unsigned __int128>(q - 1)); // largest 2y-1 with (2y-1)^2 < q
        return static_cast<int64_t>((s + 1) / 2);
    };
    auto jump = [&](int64_t at) {
        x = at;
        y = yAt(at);
        const Wide w = 2 * Wide(y) - 1;
        d = static_cast<int64_t>((4 * Wide(at + 1) * (at + 1) + w * w - rr4 + 3) / 4);
    };
    // The closed form holds at x while the step before it was not the
    // last one: y(x-1) >= x + 1. That is true up to some safe x.
    int64_t safeLo = 1, safeHi = r;
    while (safeLo < safeHi) {
        const int64_t mid = safeLo + (safeHi - safeLo + 1) / 2;
        if (yAt(mid - 1) >= mid + 1)
            safeLo = mid;
        else
            safeHi = mid - 1;
    }
    const int64_t safe = safeLo;
    const int64_t ccx = cx, ccy = cy, w = m_width, h = m_height;
    const std::vector<Span> spans = mergeSpans({{-ccx, w - 1 - ccx},
                                                {ccx - w + 1, ccx},
                                                {-ccy, h - 1 - ccy},
                                                {ccy - h + 1, ccy}});
    for (const Span &sp : spans) {
        if (sp.hi <= x)
            continue;
        if (sp.lo > x + 1) {
            if (sp.lo <= safe) {
                jump(sp.lo);
                plot8(x, y);
            } else if (safe > x) {
                jump(safe);
            }
        }
        while (y > x && x < sp.hi)
            next();
        if (y <= x)
            return;
    }
}

void QiImage::drawGrid(uint64_t word, int32_t x, int32_t y, int32_t w, int32_t h, int32_t columns, int32_t rows,
                       int32_t xShift, int32_t yShift)
{
    if (rows <= 0 || !m_data)
        return;
    // Vertical lines y..y+h and horizontal lines x..x+w, both ends included
    // (what drawLine gives for a straight line).
    int64_t top = std::min<int64_t>(y, static_cast<int64_t>(y) + h);
    int64_t left = std::min<int64_t>(x, static_cast<int64_t>(x) + w);
    int64_t y0, y1, x0, x1;
    if (columns > 0 && clipSpan(top, std::abs(static_cast<int64_t>(h)) + 1, m_height, y0, y1)) {
        forEachGridLine(static_cast<int64_t>(x) + xShift, w, columns, m_width, [&](int64_t px) {
            for (int64_t j = y0; j < y1; ++j)
                row(static_cast<int32_t>(j))[px] = word;
        });
    }
    if (clipSpan(left, std::abs(static_cast<int64_t>(w)) + 1, m_width, x0, x1)) {
        forEachGridLine(static_cast<int64_t>(y) + yShift, h, rows, m_height, [&](int64_t py) {
            uint64_t *r = row(static_cast<int32_t>(py));
            std::fill(r + x0, r + x1, word);
        });
    }
}

void QiImage::gammaPixel(double gamma, uint64_t &pixel) const
{
    if (m_bits <= 0 || m_bits > 21)
        return;
    const uint64_t m = (uint64_t{1} << m_bits) - 1;
    const double md = static_cast<double>(m);
    uint64_t out = 0;
    for (int c = 2; c >= 0; --c) {
        const int shift = c * m_bits;
        double v = std::pow(static_cast<double>((pixel >> shift) & m) / md, 1.0 / gamma) * md + 0.5;
        uint64_t code = v >= md ? m : (v > 0 ? static_cast<uint64_t>(v) : 0);
        out |= code << shift;
    }
    pixel = out;
}

namespace {

// The 1024 shades of a pattern, one per table entry.
std::vector<uint64_t> shades(int32_t bits, uint64_t from, uint64_t to)
{
    const uint16_t *t = qiSinusoidTable();
    std::vector<uint64_t> s(1024);
    for (int i = 0; i < 1024; ++i)
        s[static_cast<size_t>(i)] = interpolateColor(bits, t[i] / 1023.0, from, to);
    return s;
}

// Rows are spread over the workers once a frame is this large.
constexpr size_t kPoolPixels = size_t{1} << 18;

template <class F> void eachRow(int32_t rows, size_t pixels, F fn)
{
    if (pixels < kPoolPixels || rows < 2) {
        fn(0, rows);
        return;
    }
    QiWorkerPool::shared().run(rows, 8, fn);
}

// Zone plate indices of one run: int(scale*(dxx[x] + dyy)/1023.0 + 0.5) &
// 1023, the product wrapping at 32 bits. (2u + 1023)/2046 is never an
// integer, so the quotient stays at least 1/2046 away from the rounding
// point and the product by the reciprocal (off by under 1e-8) lands on the
// same index as the division.
QI_TARGET_CLONES void radialIndices(const uint32_t *dxx, uint32_t dyy, uint32_t scale, int32_t *index,
                                    int32_t count)
{
    for (int32_t x = 0; x < count; ++x) {
        const uint32_t u = scale * (dxx[x] + dyy);
        // Unsigned to double through the signed conversion, which vectorises.
        const double v = static_cast<double>(static_cast<int32_t>(u ^ 0x80000000u)) + 2147483648.0;
        index[x] = static_cast<int32_t>(v * (1.0 / 1023.0) + 0.5) & 1023;
    }
}

// One run of a zone plate row: the indices in blocks, then the shades.
void radialRun(const uint32_t *dxx, uint32_t dyy, uint32_t scale, const uint64_t *shade, uint64_t *out,
               int32_t count)
{
    constexpr int32_t kBlock = 512;
    int32_t index[kBlock];
    for (int32_t at = 0; at < count; at += kBlock) {
        const int32_t n = std::min(kBlock, count - at);
        radialIndices(dxx + at, dyy, scale, index, n);
        for (int32_t k = 0; k < n; ++k)
            out[at + k] = shade[index[k]];
    }
}

constexpr int64_t kHalfTurn = int64_t{180} * 65536;
constexpr int64_t kTurn = 2 * kHalfTurn;

// How far the CORDIC angle may lie from the exact angle of an offset, in
// 16.16 degrees, with ample room: the rounded arctangent table adds up to
// under 6 units, the last micro-rotation leaves under 1 and the truncating
// shifts under 1 (at most 6.5 measured over every offset within 4200
// pixels of the centre).
constexpr double kCordicSlack = 64.0;

// Hard-edged stars with more sectors than this, or images wider than this
// (whose columns no longer fit the 32-bit arithmetic of the spans), are
// drawn pixel by pixel.
constexpr int32_t kMaxSpanDivisions = 16384;
constexpr int32_t kMaxSpanWidth = 1 << 30;

// Columns [first, end) of one row where the exact angle may lie within the
// slack of threshold k: dx from lo[k]*|dy| to hi[k]*|dy|, widened by pad
// for the rounding of the double arithmetic, cut to [-4, w + 4].
QI_TARGET_CLONES void bandColumns(const double *lo, const double *hi, int32_t count, double ady, double cx,
                                  double pad, int32_t w, int32_t *first, int32_t *end)
{
    const double left = -4.0, right = w + 4.0, base = w + 16.0;
    for (int32_t k = 0; k < count; ++k) {
        double a = lo[k] * ady - pad + cx;
        double b = hi[k] * ady + pad + cx;
        a = a < left ? left : (a > right ? right : a);
        b = b < left ? left : (b > right ? right : b);
        // ceil and floor through truncation of positive values.
        first[k] = static_cast<int32_t>(base) - static_cast<int32_t>(base - a);
        end[k] = static_cast<int32_t>(b + 8.0) - 7;
    }
}

// A sector star drawn as spans. With A = angle + 180 degrees, the sector
// (or, smooth, the table step) changes at thresholds t_j: j*360*65536/D
// (hard, j = 0..D) or j*23040 (smooth, j = 0..1024), and region j is
// t_j <= A < t_{j+1}. Along a row off the centre row the exact angle is
// monotonic in x, so a row is a run of spans between the crossings of the
// thresholds. A pixel whose exact angle lies more than kCordicSlack from
// every threshold has its CORDIC angle in the same region, so its span's
// colour is the definition's; only the pixels in a narrow band around each
// crossing take their own CORDIC angle. Threshold j meets the row dy below
// the centre at dx = dy * cot(alpha_j), alpha_j its angle; the thresholds
// are symmetric (t_{N-j} = 360 - t_j), so the row -dy above the centre has
// the same crossings, with region N-1-j where the row below has j.
class SectorSpans {
public:
    SectorSpans(const uint64_t *palette, int32_t paletteSize, int32_t divisions, bool smooth,
                const std::vector<uint64_t> &shade)
        : m_divisions(divisions), m_smooth(smooth), m_shade(smooth ? shade.data() : nullptr)
    {
        const int32_t n = smooth ? 1024 : divisions;
        const double step = smooth ? 23040.0 : static_cast<double>(kTurn) / divisions;
        m_region.resize(static_cast<size_t>(n) + 1);
        for (int32_t j = 0; j <= n; ++j)
            m_region[static_cast<size_t>(j)] = smooth ? shade[static_cast<size_t>((int64_t{divisions} * j) & 1023)]
                                                      : palette[j % paletteSize];
        const double pi = std::acos(-1.0);
        const double toRadians = pi / (180.0 * 65536.0);
        const double slack = kCordicSlack * toRadians;
        // cot(alpha) with the ends of the half-plane at infinity.
        auto cot = [pi](double alpha) {
            if (alpha >= pi)
                return -std::numeric_limits<double>::infinity();
            if (alpha <= 0)
                return std::numeric_limits<double>::infinity();
            return std::cos(alpha) / std::sin(alpha);
        };
        auto region = [&](int32_t j) { return m_region[static_cast<size_t>(std::clamp(j, 0, n))]; };
        // Left to right along a row below the centre, alpha falls: the
        // thresholds from the top down, those whose band reaches into the
        // half-plane. Right of the last band lies the region under it.
        for (int32_t j = n; j >= 0; --j) {
            const double alpha = (j * step - static_cast<double>(kHalfTurn)) * toRadians;
            if (!(alpha + slack > 0 && alpha - slack < pi))
                continue;
            m_lo.push_back(cot(alpha + slack));
            m_hi.push_back(cot(alpha - slack));
            m_below.push_back(region(j));
            m_above.push_back(region(n - 1 - j));
            m_lastBelow = region(j - 1);
            m_lastAbove = region(n - j);
        }
    }

    // Per-thread scratch for rows of an image w wide.
    struct Scratch {
        std::vector<int64_t> dx, dy;
        std::vector<int32_t> angle, at, first, end;
        void reserve(size_t w, size_t bands)
        {
            if (dx.size() < 2 * w) {
                dx.resize(2 * w);
                dy.resize(2 * w);
                angle.resize(2 * w);
                at.resize(w);
            }
            if (first.size() < bands) {
                first.resize(bands);
                end.resize(bands);
            }
        }
    };

    // The rows d below and d above the centre row (either may be null) of
    // an image w wide with centre column cx; d = 0 is the centre row.
    void rows(uint64_t *below, uint64_t *above, int32_t w, int64_t d, int64_t cx, Scratch &s) const
    {
        s.reserve(static_cast<size_t>(w), m_lo.size());
        int32_t own = 0;
        int32_t *at = s.at.data();
        if (d == 0) {
            for (int32_t x = 0; x < w; ++x)
                at[own++] = x;
        } else {
            const double ady = static_cast<double>(d);
            const double cxd = static_cast<double>(cx);
            // Room for the rounding of products and sums near |cx| + w.
            const double pad = 1e-7 + 1e-9 * (std::fabs(cxd) + w);
            const double dxMin = -cxd, dxMax = static_cast<double>(w - 1) - cxd;
            // Only the bands that reach the row; the others lie wholly left
            // or right of it.
            const size_t k0 = static_cast<size_t>(
                std::partition_point(m_hi.begin(), m_hi.end(), [&](double c) { return c * ady + pad < dxMin; }) -
                m_hi.begin());
            const size_t k1 = static_cast<size_t>(
                std::partition_point(m_lo.begin() + static_cast<ptrdiff_t>(k0), m_lo.end(),
                                     [&](double c) { return !(c * ady - pad > dxMax); }) -
                m_lo.begin());
            const int32_t count = static_cast<int32_t>(k1 - k0);
            bandColumns(m_lo.data() + k0, m_hi.data() + k0, count, ady, cxd, pad, w, s.first.data(), s.end.data());
            int32_t pos = 0;
            // Most spans are short: sixteen words go out unconditionally
            // (what lies past the span is written again by the next span or
            // by the columns near the crossing), a loop only for the rest.
            auto fill = [w](uint64_t *out, int32_t from, int32_t to, uint64_t c) {
                if (from + 16 <= w) {
                    for (int32_t i = 0; i < 16; ++i)
                        out[from + i] = c;
                    from += 16;
                }
                if (from < to)
                    std::fill(out + from, out + to, c);
            };
            auto span = [&](int32_t end, uint64_t colourBelow, uint64_t colourAbove) {
                if (below)
                    fill(below, pos, end, colourBelow);
                if (above)
                    fill(above, pos, end, colourAbove);
                pos = end;
            };
            for (int32_t k = 0; k < count; ++k) {
                const int32_t first = std::min(s.first[static_cast<size_t>(k)], w);
                const int32_t end = std::min(s.end[static_cast<size_t>(k)], w);
                if (first > pos)
                    span(first, m_below[k0 + static_cast<size_t>(k)], m_above[k0 + static_cast<size_t>(k)]);
                for (; pos < end; ++pos)
                    at[own++] = pos;
            }
            if (pos < w) {
                const bool inside = k1 < m_below.size();
                span(w, inside ? m_below[k1] : m_lastBelow, inside ? m_above[k1] : m_lastAbove);
            }
        }
        if (own == 0)
            return;
        // The columns near a crossing, by their own angle, both rows at once.
        int32_t count = 0;
        auto add = [&](int64_t dy) {
            for (int32_t i = 0; i < own; ++i, ++count) {
                s.dx[static_cast<size_t>(count)] = at[i] - cx;
                s.dy[static_cast<size_t>(count)] = dy;
            }
        };
        if (below)
            add(d);
        if (above)
            add(-d);
        qiCordicAngles(s.dx.data(), s.dy.data(), s.angle.data(), count);
        for (int32_t i = 0; i < count; ++i) {
            uint64_t *out = s.dy[static_cast<size_t>(i)] >= 0 ? below : above;
            out[s.dx[static_cast<size_t>(i)] + cx] = colourOf(s.angle[static_cast<size_t>(i)]);
        }
    }

    // The definition for one CORDIC angle.
    uint64_t colourOf(int32_t angle) const
    {
        const int64_t a = int64_t{angle} + kHalfTurn;
        if (m_smooth)
            return m_shade[static_cast<size_t>((int64_t{m_divisions} * ((a / 360) >> 6)) & 1023)];
        return m_region[static_cast<size_t>((a * m_divisions) / 360 >> 16)];
    }

private:
    int32_t m_divisions;
    bool m_smooth;
    const uint64_t *m_shade;
    std::vector<uint64_t> m_region;
    // Band k: columns dx in [lo*d, hi*d] lie within the slack of its
    // threshold; the colours of the span left of it, below and above the
    // centre, and of the span right of the last band.
    std::vector<double> m_lo, m_hi;
    std::vector<uint64_t> m_below, m_above;
    uint64_t m_lastBelow = 0, m_lastAbove = 0;
};

} // namespace

void QiImage::chirpFill(uint64_t from, uint64_t to, int32_t scale, bool horizontal)
{
    if (!m_data || m_width <= 0 || m_height <= 0)
        return;
    const std::vector<uint64_t> s = shades(m_bits, from, to);
    auto index = [scale](int32_t p, int32_t length) {
        double q = static_cast<double>(p) / length;
        return static_cast<size_t>(static_cast<int64_t>(q * q * 1023.0 * scale + 0.5) & 1023);
    };
    const size_t pixels = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    if (horizontal) {
        uint64_t *first = row(0);
        for (int32_t x = 0; x < m_width; ++x)
            first[x] = s[index(x, m_width)];
        eachRow(m_height - 1, pixels, [&](int32_t begin, int32_t end) {
            for (int32_t y = begin + 1; y <= end; ++y)
                std::memcpy(row(y), first, static_cast<size_t>(m_width) * sizeof(uint64_t));
        });
    } else {
        eachRow(m_height, pixels, [&](int32_t begin, int32_t end) {
            for (int32_t y = begin; y < end; ++y)
                std::fill_n(row(y), m_width, s[index(y, m_height)]);
        });
    }
}

void QiImage::radialFill(uint64_t from, uint64_t to, int32_t scale, int32_t cx, int32_t cy)
{
    if (!m_data || m_width <= 0 || m_height <= 0)
        return;
    const std::vector<uint64_t> s = shades(m_bits, from, to);
    // dx*dx per column, as the 32-bit unsigned value the index is formed in.
    std::vector<uint32_t> dxx(static_cast<size_t>(m_width));
    for (int32_t x = 0; x < m_width; ++x) {
        uint64_t d = static_cast<uint64_t>(static_cast<int64_t>(m_width) - 1 - x - cx);
        dxx[static_cast<size_t>(x)] = static_cast<uint32_t>(d * d);
    }
    // Column m - x repeats column x, row n - y repeats row y (the rings are
    // symmetric about their centre): a quarter of the pixels is computed.
    const int64_t m = 2 * (static_cast<int64_t>(m_width) - 1 - cx);
    const int64_t n = 2 * (static_cast<int64_t>(m_height) - 1 - cy);
    // Columns [0, c1) and [c2, width) computed, [c1, c2) mirrored from
    // m - x, which lies in [0, c1).
    const int64_t c1 = m < 0 ? 0 : std::min<int64_t>(m / 2 + 1, m_width);
    const int64_t c2 = m < 0 ? 0 : std::clamp<int64_t>(m + 1, c1, m_width);
    // Rows whose twin n - y is not an earlier row; each writes its twin too.
    std::vector<int32_t> rows;
    rows.reserve(static_cast<size_t>(m_height));
    for (int32_t y = 0; y < m_height; ++y)
        if (!(n - y >= 0 && n - y < y))
            rows.push_back(y);
    const uint32_t us = static_cast<uint32_t>(scale);
    const size_t pixels = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    eachRow(static_cast<int32_t>(rows.size()), pixels, [&](int32_t begin, int32_t end) {
        for (int32_t j = begin; j < end; ++j) {
            const int32_t y = rows[static_cast<size_t>(j)];
            uint64_t *r = row(y);
            uint64_t d = static_cast<uint64_t>(static_cast<int64_t>(m_height) - 1 - y - cy);
            const uint32_t dyy = static_cast<uint32_t>(d * d);
            radialRun(dxx.data(), dyy, us, s.data(), r, static_cast<int32_t>(c1));
            for (int64_t x = c1; x < c2; ++x)
                r[x] = r[m - x];
            radialRun(dxx.data() + c2, dyy, us, s.data(), r + c2, static_cast<int32_t>(m_width - c2));
            const int64_t twin = n - y;
            if (twin > y && twin < m_height)
                std::memcpy(row(static_cast<int32_t>(twin)), r, static_cast<size_t>(m_width) * sizeof(uint64_t));
        }
    });
}

void QiImage::sectorFill(const uint64_t *palette, int32_t paletteSize, int32_t divisions, int32_t cx, int32_t cy,
                         bool smooth)
{
    if (!m_data || !palette || paletteSize <= 0 || m_width <= 0 || m_height <= 0)
        return;
    std::vector<uint64_t> s;
    if (smooth)
        s = shades(m_bits, palette[0], paletteSize > 1 ? palette[1] : palette[0]);
    const size_t pixels = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
    if ((smooth || (divisions >= 1 && divisions <= kMaxSpanDivisions)) && m_width <= kMaxSpanWidth) {
        const SectorSpans spans(palette, paletteSize, divisions, smooth, s);
        // Row pairs d below and above the centre; d runs over the hull of
        // the rows there are (one side only when the centre is off the
        // image, where nothing lies between the two sides).
        const int64_t h = m_height, c = cy;
        const int64_t dFirst = c < 0 ? -c : (c >= h ? c - (h - 1) : 0);
        const int64_t dLast = std::max(h - 1 - c, c);
        eachRow(static_cast<int32_t>(dLast - dFirst + 1), pixels, [&](int32_t begin, int32_t end) {
            thread_local SectorSpans::Scratch scratch;
            for (int64_t d = dFirst + begin; d < dFirst + end; ++d) {
                const int64_t yb = c + d, ya = c - d;
                uint64_t *below = yb >= 0 && yb < h ? row(static_cast<int32_t>(yb)) : nullptr;
                uint64_t *above = d > 0 && ya >= 0 && ya < h ? row(static_cast<int32_t>(ya)) : nullptr;
                if (below || above)
                    spans.rows(below, above, m_width, d, cx, scratch);
            }
        });
        return;
    }
    // Otherwise every pixel by its own angle.
    const int64_t d = divisions;
    // Sector k of the plain star is palette[k mod paletteSize]; with up to a
    // million sectors a table saves the division per pixel.
    const int64_t lowest = std::min<int64_t>(d, 0) - 1, highest = std::max<int64_t>(d, 0) + 1;
    std::vector<uint64_t> sectorWord;
    if (!smooth && highest - lowest <= (int64_t{1} << 20)) {
        sectorWord.resize(static_cast<size_t>(highest - lowest + 1));
        for (int64_t k = lowest; k <= highest; ++k) {
            const int64_t m = k % paletteSize;
            sectorWord[static_cast<size_t>(k - lowest)] = palette[m < 0 ? m + paletteSize : m];
        }
    }
    eachRow(m_height, pixels, [&](int32_t begin, int32_t end) {
        std::vector<int64_t> dx(static_cast<size_t>(m_width)), dy(static_cast<size_t>(m_width));
        std::vector<int32_t> angle(static_cast<size_t>(m_width));
        for (int32_t x = 0; x < m_width; ++x)
            dx[static_cast<size_t>(x)] = static_cast<int64_t>(x) - cx;
        for (int32_t y = begin; y < end; ++y) {
            std::fill(dy.begin(), dy.end(), static_cast<int64_t>(y) - cy);
            qiCordicAngles(dx.data(), dy.data(), angle.data(), m_width);
            uint64_t *r = row(y);
            for (int32_t x = 0; x < m_width; ++x) {
                const int64_t a = static_cast<int64_t>(angle[static_cast<size_t>(x)]) + kHalfTurn;
                if (smooth) {
                    r[x] = s[static_cast<size_t>((d * ((a / 360) >> 6)) & 1023)];
                    continue;
                }
                const int64_t q = (a * d) / 360 >> 16;
                if (q >= lowest && q <= highest && !sectorWord.empty()) {
                    r[x] = sectorWord[static_cast<size_t>(q - lowest)];
                } else {
                    const int64_t k = q % paletteSize;
                    r[x] = palette[k < 0 ? k + paletteSize : k];
                }
            }
        }
    });
}
