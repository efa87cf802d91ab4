#include "QiSinusoid.h"

#include "QiTargetClones.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

// Reference points of the table the patterns have always shown; the curve
// between them is a raised cosine bent smoothly through them.
struct Anchor {
    int index;
    int value;
};
constexpr Anchor kAnchors[] = {{0, 511},   {64, 149},  {126, 0},   {192, 150}, {256, 513}, {320, 874},
                               {382, 1022}, {512, 508}, {640, 0},   {768, 516}, {896, 1022}, {1023, 533}};

std::array<uint16_t, 1024> buildTable()
{
    const double pi = std::acos(-1.0);
    auto curve = [pi](int i) { return 511.0 - 511.0 * std::sin(4.0 * pi * i / 1024.0); };
    std::array<uint16_t, 1024> t{};
    constexpr int n = sizeof(kAnchors) / sizeof(kAnchors[0]);
    for (int a = 0; a < n; ++a) {
        // Correction interpolated linearly between neighbouring anchors
        // (the last one wraps to the first).
        const Anchor &lo = kAnchors[a];
        const Anchor &hi = kAnchors[(a + 1) % n];
        int hiIndex = a + 1 < n ? hi.index : hi.index + 1024;
        double c0 = lo.value - curve(lo.index);
        double c1 = hi.value - curve(hi.index);
        for (int i = lo.index; i < hiIndex && i < 1024; ++i) {
            double f = static_cast<double>(i - lo.index) / (hiIndex - lo.index);
            double v = std::floor(curve(i) + c0 + (c1 - c0) * f + 0.5);
            t[i] = static_cast<uint16_t>(v < 0 ? 0 : (v > 1022 ? 1022 : v));
        }
    }
    for (const Anchor &a : kAnchors)
        t[a.index] = static_cast<uint16_t>(a.value);
    return t;
}

// atan(2^-k) and atan(2) in 16.16 degrees, rounded.
constexpr int32_t kAtan[23] = {2949120, 1740967, 919879, 466945, 234379, 117304, 58666, 29335,
                               14668,   7334,    3667,   1833,   917,    458,    229,   115,
                               57,      29,      14,     7,      4,      2,      1};
constexpr int32_t kAtan2 = 4157273;
constexpr int32_t kHalfTurn = 180 * 65536;

} // namespace

const uint16_t *qiSinusoidTable()
{
    static const std::array<uint16_t, 1024> table = buildTable();
    return table.data();
}

// Built for AVX2 as well (eight lanes per micro-rotation); picked at load.
QI_TARGET_CLONES void qiCordicAngles(const int64_t *dx, const int64_t *dy,
                                                                        int32_t *angles, int32_t count)
{
    // Structure of arrays so the micro-rotations run across the row in
    // vector registers. Magnitudes stay below 2^31: the start lies under
    // 2^28 * sqrt(2), the atan(2) step gains sqrt(5), the rest 1.647.
    constexpr int32_t kChunk = 256;
    int32_t xs[kChunk], ys[kChunk], zs[kChunk];
    for (int32_t base = 0; base < count; base += kChunk) {
        int32_t n = count - base < kChunk ? count - base : kChunk;
        for (int32_t k = 0; k < n; ++k) {
            int64_t x = dx[base + k], y = dy[base + k];
            uint64_t ax = x < 0 ? uint64_t{0} - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
            uint64_t ay = y < 0 ? uint64_t{0} - static_cast<uint64_t>(y) : static_cast<uint64_t>(y);
            uint64_t m = ax > ay ? ax : ay;
            int32_t z = 0;
            if (m != 0) {
                // Larger magnitude into [2^27, 2^28).
                int top = 63 - __builtin_clzll(m);
                if (top < 27) {
                    x *= int64_t{1} << (27 - top);
                    y *= int64_t{1} << (27 - top);
                } else if (top > 27) {
                    x >>= top - 27;
                    y >>= top - 27;
                }
                if (x < 0) {
                    z = y >= 0 ? kHalfTurn : -kHalfTurn;
                    x = -x;
                    y = -y;
                }
            }
            xs[k] = static_cast<int32_t>(x);
            ys[k] = static_cast<int32_t>(y);
            zs[k] = z;
        }
        for (int32_t k = 0; k < n; ++k) {
            int32_t x = xs[k], y = ys[k];
            bool up = y > 0;
            xs[k] = up ? x + 2 * y : x - 2 * y;
            ys[k] = up ? y - 2 * x : y + 2 * x;
            zs[k] += up ? kAtan2 : -kAtan2;
        }
        for (int s = 0; s < 23; ++s) {
            int32_t a = kAtan[s];
            for (int32_t k = 0; k < n; ++k) {
                int32_t x = xs[k], y = ys[k];
                bool up = y > 0;
                xs[k] = up ? x + (y >> s) : x - (y >> s);
                ys[k] = up ? y - (x >> s) : y + (x >> s);
                zs[k] += up ? a : -a;
            }
        }
        for (int32_t k = 0; k < n; ++k) {
            // The left half-plane started at +-180 degrees; the residual's
            // last-bit error must not carry it across the -180/180 seam.
            int32_t z = zs[k];
            const int64_t x = dx[base + k], y = dy[base + k];
            if (x == 0 && y == 0)
                z = 0;
            else if (x < 0 && y >= 0)
                z = std::min(z, kHalfTurn);
            else if (x < 0)
                z = std::max(z, -kHalfTurn + 1);
            angles[base + k] = z;
        }
    }
}

int32_t qiCordicAngle(int64_t dx, int64_t dy)
{
    int32_t a = 0;
    qiCordicAngles(&dx, &dy, &a, 1);
    return a;
}
