#include "QiImageCoder.h"

#include "QiImage.h"
#include "QiLog.h"
#include "QiRowStore.h"
#include "QiTargetClones.h"
#include "QiWorkerPool.h"
#include "QiYccSimd.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the packers store host words as little-endian");

namespace {

// a, b, c (luma); d, e, f (Cb); g, h, i (Cr), as stored.
constexpr double kMatrices[6][9] = {
    {0.299, 0.587, 0.114, -0.086294, -0.169414, 0.255708, 0.255708, -0.214123, -0.041584},
    {0.256788, 0.504129, 0.097906, -0.075803, -0.148818, 0.224622, 0.224622, -0.188093, -0.036529},
    {0.212649, 0.715169, 0.072182, -0.058606, -0.197101, 0.255708, 0.255708, -0.232265, -0.023443},
    {0.182628, 0.614204, 0.061992, -0.051482, -0.17314, 0.224622, 0.224622, -0.204029, -0.020593},
    {0.2627, 0.678, 0.0593, -0.0714089818, -0.184298781, 0.255707763, 0.255707763, -0.235141548, -0.020566215},
    {0.225612941, 0.582282353, 0.0509282353, -0.0627278899, -0.161893831, 0.224621721, 0.224621721, -0.206555712,
     -0.0180660085},
};

// Formula path constants of encodings 0, 2, 4: Kr, Kg, Kb, sB, sR.
constexpr double kFormula[3][5] = {
    {0.299, 0.587, 0.114, 0.564, 0.713},
    {0.2126, 0.7152, 0.0722, 0.5389, 0.635},
    {0.2627, 0.678, 0.0593, 0.5315, 0.6782},
};

// How one pixel word becomes three components at the output depth:
// unpack, override, shift to the output depth.
struct Unpack {
    uint32_t sr = 0, sg = 0, mask = 0;
    uint32_t keep[3] = {~0u, ~0u, ~0u};
    uint32_t konst[3] = {0, 0, 0};
    uint32_t up = 0, down = 0;
    bool wide = false; // components above bit 31 of the word
};

Unpack makeUnpack(int32_t bits, uint8_t flags, const int32_t konst[3], int outBits)
{
    Unpack u;
    u.sr = static_cast<uint32_t>(2 * bits);
    u.sg = static_cast<uint32_t>(bits);
    u.mask = (1u << bits) - 1u;
    for (int c = 0; c < 3; ++c) {
        if (flags & (1u << c)) {
            u.keep[c] = 0;
            // The constants are 8-bit levels (70 is 25 % video grey):
            // scaled to the image's depth as any 8-bit code is.
            const uint32_t k = static_cast<uint32_t>(konst[c]) & 0xFFu;
            u.konst[c] = (bits >= 8 ? k << (bits - 8) : k >> (8 - bits)) & u.mask;
        }
    }
    u.up = bits < outBits ? static_cast<uint32_t>(outBits - bits) : 0;
    u.down = bits > outBits ? static_cast<uint32_t>(bits - outBits) : 0;
    u.wide = 3 * bits > 32;
    return u;
}

template <bool Wide>
inline void components(uint64_t w, const Unpack &u, uint32_t &r, uint32_t &g, uint32_t &b)
{
    uint32_t cr, cg, cb;
    if constexpr (Wide) {
        cr = static_cast<uint32_t>(w >> u.sr);
        cg = static_cast<uint32_t>(w >> u.sg);
        cb = static_cast<uint32_t>(w);
    } else {
        uint32_t v = static_cast<uint32_t>(w);
        cr = v >> u.sr;
        cg = v >> u.sg;
        cb = v;
    }
    r = ((((cr & u.mask) & u.keep[0]) | u.konst[0]) << u.up) >> u.down;
    g = ((((cg & u.mask) & u.keep[1]) | u.konst[1]) << u.up) >> u.down;
    b = ((((cb & u.mask) & u.keep[2]) | u.konst[2]) << u.up) >> u.down;
}

inline void components(uint64_t w, const Unpack &u, uint32_t &r, uint32_t &g, uint32_t &b)
{
    if (u.wide)
        components<true>(w, u, r, g, b);
    else
        components<false>(w, u, r, g, b);
}

// Scratch rows reused by each thread from frame to frame.
template <class T>
T *scratch(std::vector<T> &v, size_t n)
{
    if (v.size() < n)
        v.resize(n);
    return v.data();
}

// ---- RGB packers ------------------------------------------------------------
//
// A row is first unpacked into three component arrays at the output depth
// (overrides applied), then packed; both loops vectorize. Depths other than
// 8 and 10 bits are converted to 10-bit words first (narrowRow).

typedef uint32_t UnalignedWord __attribute__((aligned(1), may_alias));

template <int Bits, int OutBits>
[[gnu::always_inline]] inline void unpackImpl(const uint64_t *__restrict src, int32_t n, const Unpack &u,
                                              uint32_t *__restrict r, uint32_t *__restrict g,
                                              uint32_t *__restrict b)
{
    constexpr int up = OutBits > Bits ? OutBits - Bits : 0, down = Bits > OutBits ? Bits - OutBits : 0;
    const uint32_t mask = u.mask, kR = u.keep[0], kG = u.keep[1], kB = u.keep[2];
    const uint32_t cR = u.konst[0], cG = u.konst[1], cB = u.konst[2];
#pragma GCC ivdep
    for (int32_t x = 0; x < n; ++x) {
        const uint32_t w = static_cast<uint32_t>(src[x]);
        r[x] = ((((w >> (2 * Bits)) & mask & kR) | cR) << up) >> down;
        g[x] = ((((w >> Bits) & mask & kG) | cG) << up) >> down;
        b[x] = (((w & mask & kB) | cB) << up) >> down;
    }
}

#define OV_UNPACK(NAME, BITS, OUT)                                                                              \
    QI_TARGET_CLONES void NAME(const uint64_t *src, int32_t n, const Unpack &u, \
                                                               uint32_t *r, uint32_t *g, uint32_t *b)         \
    {                                                                                                          \
        unpackImpl<BITS, OUT>(src, n, u, r, g, b);                                                             \
    }
OV_UNPACK(unpack10to8, 10, 8)
OV_UNPACK(unpack10to10, 10, 10)
OV_UNPACK(unpack8to8, 8, 8)
OV_UNPACK(unpack8to10, 8, 10)
#undef OV_UNPACK

void narrowRow(const uint64_t *src, int32_t width, const Unpack &u, uint64_t *dst);

// Component arrays of one row; u describes the image (and overrides).
void unpackRow(const uint64_t *src, int32_t n, const Unpack &u, int outBits, uint64_t *narrow, uint32_t *r,
               uint32_t *g, uint32_t *b)
{
    static const Unpack plain10 = [] {
        const int32_t none[3] = {0, 0, 0};
        return makeUnpack(10, 0, none, 10);
    }();
    if (u.sg == 8)
        (outBits == 8 ? unpack8to8 : unpack8to10)(src, n, u, r, g, b);
    else if (u.sg == 10)
        (outBits == 8 ? unpack10to8 : unpack10to10)(src, n, u, r, g, b);
    else {
        // 10-bit words first, overrides applied.
        Unpack ten = u;
        const uint32_t bits = u.sg;
        ten.up = bits < 10 ? 10 - bits : 0;
        ten.down = bits > 10 ? bits - 10 : 0;
        narrowRow(src, n, ten, narrow);
        (outBits == 8 ? unpack10to8 : unpack10to10)(narrow, n, plain10, r, g, b);
    }
}

struct Rgb32Form {
    uint32_t shift[4]; // bit position of R, G, B, A
    uint32_t clear[4]; // the byte's mask, inverted
};

QI_TARGET_CLONES void rgb32Pack(const uint32_t *__restrict r,
                                                                  const uint32_t *__restrict g,
                                                                  const uint32_t *__restrict b, int32_t n,
                                                                  const Rgb32Form &f, uint8_t *__restrict dst)
{
    const uint32_t s0 = f.shift[0], s1 = f.shift[1], s2 = f.shift[2], c1 = f.clear[1], c2 = f.clear[2],
                   c3 = f.clear[3], alpha = 255u << f.shift[3];
    UnalignedWord *out = reinterpret_cast<UnalignedWord *>(dst);
    for (int32_t x = 0; x < n; ++x) {
        // Later bytes win where positions coincide.
        uint32_t v = r[x] << s0;
        v = (v & c1) | (g[x] << s1);
        v = (v & c2) | (b[x] << s2);
        out[x] = (v & c3) | alpha;
    }
}

QI_TARGET_CLONES void rgb24Pack(const uint32_t *__restrict r,
                                                                  const uint32_t *__restrict g,
                                                                  const uint32_t *__restrict b, int32_t n,
                                                                  const int at[3], uint8_t *__restrict dst)
{
    const int iR = at[0], iG = at[1], iB = at[2];
    for (int32_t x = 0; x < n; ++x) {
        uint8_t *p = dst + 3 * static_cast<size_t>(x);
        p[iR] = static_cast<uint8_t>(r[x]);
        p[iG] = static_cast<uint8_t>(g[x]);
        p[iB] = static_cast<uint8_t>(b[x]);
    }
}

QI_TARGET_CLONES void rgb10Pack(const uint32_t *__restrict r,
                                                                  const uint32_t *__restrict g,
                                                                  const uint32_t *__restrict b, int32_t n,
                                                                  uint32_t fr, uint32_t fb, bool dpx,
                                                                  uint8_t *__restrict dst)
{
    UnalignedWord *out = reinterpret_cast<UnalignedWord *>(dst);
    if (dpx) {
        for (int32_t x = 0; x < n; ++x) {
            uint32_t w = (r[x] << fr) | (g[x] << 10) | (b[x] << fb) | 0xC0000000u;
            w = (((w & 0x000FFC00u) | (w << 20)) << 2) | ((w >> 18) & 0x00000FFCu);
            out[x] = __builtin_bswap32(w);
        }
    } else {
        for (int32_t x = 0; x < n; ++x)
            out[x] = __builtin_bswap32((r[x] << fr) | (g[x] << 10) | (b[x] << fb) | 0xC0000000u);
    }
}

// Scratch rows reused by each thread from frame to frame: component arrays
// of the RGB packers, pair values of the 4:2:2 pass, 10-bit words of a row
// at another depth.
struct RowScratch {
    std::vector<uint32_t> comps;
    std::vector<int32_t> values;
    std::vector<uint64_t> narrow;
};

RowScratch &rowScratch()
{
    thread_local RowScratch s;
    return s;
}

// ---- YCbCr ------------------------------------------------------------------
//
// The defined arithmetic is double precision: per output a dot product plus
// 0.5, truncated toward zero. The fast path forms the same linear forms in
// 32-bit fixed point with 20 fractional bits. Rounding each weight to 2^-20
// moves a sum by at most half a unit per term times the largest input, and
// the double evaluation differs from exact arithmetic by far less than one
// unit; so wherever the fixed-point value lies further than that bound
// (plus slack) from a truncation step, both give the same integer. Pairs
// closer than that are marked and recomputed in double precision, which
// keeps the output byte-identical to the definition.

// Fraction bits: 20 for 10-bit inputs, 22 for 8-bit ones; either keeps
// every sum below 2^31.
constexpr int fracBits(bool tenBit) { return tenBit ? 20 : 22; }

// The pair pass's form: the fixed-point weights, offsets and tie margin
// (shared with the vector kernels, at the pass's own fraction), and which
// arithmetic the double-precision recomputation follows.
struct YccForm : QiYccFixed {
    bool formula = false; // else matrix
    bool tenBit = false;
    const double *m = nullptr; // matrix weights
    const double *k = nullptr; // formula constants
};

YccForm makeYcc(int encoding, bool tenBit, bool exact)
{
    YccForm f;
    f.tenBit = tenBit;
    // Indices outside 0..5 are encoding 2 in every respect.
    if (encoding < 0 || encoding > 5)
        encoding = 2;
    const int fi = encoding == 0 ? 0 : encoding == 2 ? 1 : encoding == 4 ? 2 : -1;
    f.formula = tenBit && exact && fi >= 0;
    QiYccSimdForm form;
    form.outBits = tenBit ? 10 : 8;
    if (f.formula)
        form.k = f.k = kFormula[fi];
    else
        form.m = f.m = QiImageCoder::matrixWeights(encoding);
    static_cast<QiYccFixed &>(f) = qiYccFixed(form, fracBits(tenBit));
    return f;
}

struct YccRow {
    int32_t *y0, *cb, *y1, *cr;
    int32_t *near;
    int32_t *spare; // 4 * pairs values for the packer
};

template <int Frac>
inline int32_t truncFixed(int32_t t)
{
    return (t >> Frac) - (t >> 31);
}

template <int Frac>
inline int32_t isNear(int32_t t, int32_t margin)
{
    constexpr int32_t fracMask = (1 << Frac) - 1;
    return (((t & fracMask) + margin) & fracMask) <= 2 * margin;
}

// One row of pairs. first/second: the low 32 bits of each pair's pixel words
// (all of a word at Bits <= 10). Bits and OutBits are constants so every
// shift is a vector shift by an immediate.
template <int Bits, int OutBits, bool Formula, bool Overrides>
[[gnu::always_inline]] inline void yccPassImpl(const uint64_t *__restrict src, int32_t pairs, const Unpack &u, const YccForm &f,
                                               int32_t *__restrict y0, int32_t *__restrict cb,
                                               int32_t *__restrict y1, int32_t *__restrict cr,
                                               int32_t *__restrict near)
{
    // The mask comes from the call: a constant one lets GCC narrow the
    // lanes to 16 bits, which it then fails to vectorize.
    const uint32_t mask = u.mask;
    constexpr int up = OutBits > Bits ? OutBits - Bits : 0, down = Bits > OutBits ? Bits - OutBits : 0;
    constexpr int F = fracBits(OutBits == 10);
    // All ones when chroma sums both pixels (matrix), zero when it takes
    // the first only (formula); a select here would stop the vectorizer.
    const int32_t pair = Formula ? 0 : -1;
    const int32_t c0 = f.centre;
    const int32_t L0 = f.y[0], L1 = f.y[1], L2 = f.y[2];
    const int32_t U0 = f.cb[0], U1 = f.cb[1], U2 = f.cb[2];
    const int32_t V0 = f.cr[0], V1 = f.cr[1], V2 = f.cr[2];
    const int32_t offY = f.offY, offC = f.offC, margin = f.margin;
    const int32_t addY = f.addY, addC = f.addC, lo = f.lo, hi = f.hi;
    const uint32_t kR = u.keep[0], kG = u.keep[1], kB = u.keep[2];
    const uint32_t cR = u.konst[0], cG = u.konst[1], cB = u.konst[2];
#pragma GCC ivdep
    for (int32_t k = 0; k < pairs; ++k) {
        const uint32_t w0 = static_cast<uint32_t>(src[2 * k]), w1 = static_cast<uint32_t>(src[2 * k + 1]);
        // Without overrides the keep/constant step drops out at compile time.
        auto over = [&](uint32_t v, uint32_t keep, uint32_t konst) {
            return Overrides ? ((v & keep) | konst) : v;
        };
        const uint32_t r0 = (over((w0 >> (2 * Bits)) & mask, kR, cR) << up) >> down;
        const uint32_t g0 = (over((w0 >> Bits) & mask, kG, cG) << up) >> down;
        const uint32_t b0 = (over(w0 & mask, kB, cB) << up) >> down;
        const uint32_t r1 = (over((w1 >> (2 * Bits)) & mask, kR, cR) << up) >> down;
        const uint32_t g1 = (over((w1 >> Bits) & mask, kG, cG) << up) >> down;
        const uint32_t b1 = (over(w1 & mask, kB, cB) << up) >> down;
        const int32_t R0 = static_cast<int32_t>(r0) - c0, G0 = static_cast<int32_t>(g0) - c0,
                      B0 = static_cast<int32_t>(b0) - c0;
        const int32_t R1 = static_cast<int32_t>(r1) - c0, G1 = static_cast<int32_t>(g1) - c0,
                      B1 = static_cast<int32_t>(b1) - c0;
        // Matrix chroma weighs both pixels alike; the formula takes the first.
        const int32_t qr = R0 + (R1 & pair), qg = G0 + (G1 & pair), qb = B0 + (B1 & pair);
        const int32_t ty0 = L0 * R0 + L1 * G0 + L2 * B0 + offY;
        const int32_t ty1 = L0 * R1 + L1 * G1 + L2 * B1 + offY;
        const int32_t tcb = U0 * qr + U1 * qg + U2 * qb + offC;
        const int32_t tcr = V0 * qr + V1 * qg + V2 * qb + offC;
        near[k] = isNear<F>(ty0, margin) | isNear<F>(ty1, margin) | isNear<F>(tcb, margin) |
                  isNear<F>(tcr, margin);
        // Both paths hold their codes to the output range.
        auto code = [&](int32_t t, int32_t add) { return std::clamp(truncFixed<F>(t) + add, lo, hi); };
        y0[k] = code(ty0, addY);
        y1[k] = code(ty1, addY);
        cb[k] = code(tcb, addC);
        cr[k] = code(tcr, addC);
    }
}

#define OV_YCC_PASS(NAME, BITS, OUT, FORMULA, OVERRIDES)                                                     \
    QI_TARGET_CLONES void NAME(const uint64_t *src, int32_t pairs, const Unpack &u, const YccForm &f,         \
                               const YccRow &o)                                                               \
    {                                                                                                          \
        yccPassImpl<BITS, OUT, FORMULA, OVERRIDES>(src, pairs, u, f, o.y0, o.cb, o.y1, o.cr, o.near);          \
    }
// Built for AVX2 as well; the loader picks the variant the processor runs.
OV_YCC_PASS(yccPass10to10, 10, 10, false, false)
OV_YCC_PASS(yccPass10to8, 10, 8, false, false)
OV_YCC_PASS(yccPass8to10, 8, 10, false, false)
OV_YCC_PASS(yccPass8to8, 8, 8, false, false)
OV_YCC_PASS(yccPass10to10o, 10, 10, false, true)
OV_YCC_PASS(yccPass10to8o, 10, 8, false, true)
OV_YCC_PASS(yccPass8to10o, 8, 10, false, true)
OV_YCC_PASS(yccPass8to8o, 8, 8, false, true)
OV_YCC_PASS(yccPass10to10f, 10, 10, true, false)
OV_YCC_PASS(yccPass8to10f, 8, 10, true, false)
OV_YCC_PASS(yccPass10to10fo, 10, 10, true, true)
OV_YCC_PASS(yccPass8to10fo, 8, 10, true, true)
#undef OV_YCC_PASS

// The defined double-precision arithmetic for one pair.
void yccReference(uint64_t p0, uint64_t p1, const Unpack &u, const YccForm &f, int32_t out[4])
{
    uint32_t c[6];
    components(p0, u, c[0], c[1], c[2]);
    components(p1, u, c[3], c[4], c[5]);
    if (f.formula) {
        const double *k = f.k;
        auto luma = [k](uint32_t R, uint32_t G, uint32_t B, double &r, double &b) {
            r = (static_cast<int32_t>(R) - 64) / 876.0;
            double g = (static_cast<int32_t>(G) - 64) / 876.0;
            b = (static_cast<int32_t>(B) - 64) / 876.0;
            return k[0] * r + k[1] * g + k[2] * b;
        };
        double r, b, r1, b1;
        double y = luma(c[0], c[1], c[2], r, b);
        double y1 = luma(c[3], c[4], c[5], r1, b1);
        double cb = (b - y) * k[3];
        double cr = (r - y) * k[4];
        // Clamped like the matrix path: super-white yellow gives Cb 0, not
        // a wrapped 1014.
        out[0] = std::clamp(static_cast<int32_t>(y * 876 + 64 + 0.5), 0, 1023);
        out[1] = std::clamp(static_cast<int32_t>(cb * 896 + 512 + 0.5), 0, 1023);
        out[2] = std::clamp(static_cast<int32_t>(y1 * 876 + 64 + 0.5), 0, 1023);
        out[3] = std::clamp(static_cast<int32_t>(cr * 896 + 512 + 0.5), 0, 1023);
        return;
    }
    const double *m = f.m;
    double v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = static_cast<double>(static_cast<int32_t>(c[i]) - 16);
    const double rows[4][6] = {{m[0], m[1], m[2], 0, 0, 0},
                               {m[3], m[4], m[5], m[3], m[4], m[5]},
                               {0, 0, 0, m[0], m[1], m[2]},
                               {m[6], m[7], m[8], m[6], m[7], m[8]}};
    for (int r = 0; r < 4; ++r) {
        double s = 0;
        for (int i = 0; i < 6; ++i)
            s += rows[r][i] * v[i];
        int32_t q = static_cast<int32_t>(s + 0.5) + ((r & 1) ? f.addC : f.addY);
        out[r] = std::clamp(q, f.lo, f.hi);
    }
}

// Y0 Cb Y1 Cr of every pair of one row; pixel positions past the row repeat
// its last pixel.
void yccRow(const uint64_t *src, int32_t width, int32_t pairs, const Unpack &u, const YccForm &f,
            const YccRow &o)
{
    // Whole pairs straight from the row; the rest (at most three) from a
    // copy that repeats the last pixel.
    const int32_t whole = std::min(pairs, width / 2);
    uint64_t tail[8];
    const int32_t tailPairs = std::min(pairs - whole, 4);
    for (int32_t i = 0; i < 2 * tailPairs; ++i)
        tail[i] = src[std::min(2 * whole + i, width - 1)];
    using Pass = void (*)(const uint64_t *, int32_t, const Unpack &, const YccForm &, const YccRow &);
    // [formula][overrides][8-bit input][10-bit output]; the formula is 10-bit only.
    static constexpr Pass kPasses[2][2][2][2] = {
        {{{yccPass10to8, yccPass10to10}, {yccPass8to8, yccPass8to10}},
         {{yccPass10to8o, yccPass10to10o}, {yccPass8to8o, yccPass8to10o}}},
        {{{yccPass10to10f, yccPass10to10f}, {yccPass8to10f, yccPass8to10f}},
         {{yccPass10to10fo, yccPass10to10fo}, {yccPass8to10fo, yccPass8to10fo}}}};
    const bool overrides = (u.keep[0] & u.keep[1] & u.keep[2]) != ~0u;
    const Pass pass = kPasses[f.formula][overrides][u.sg == 8][f.tenBit];
    pass(src, whole, u, f, o);
    if (tailPairs > 0) {
        const YccRow t{o.y0 + whole, o.cb + whole, o.y1 + whole, o.cr + whole, o.near + whole, nullptr};
        pass(tail, tailPairs, u, f, t);
    }
    // Near ties are rare: look at blocks of 16 flags, then inside a marked block.
    for (int32_t base = 0; base < pairs; base += 16) {
        const int32_t end = std::min(pairs, base + 16);
        int32_t any = 0;
        if (end - base == 16) {
            for (int32_t j = 0; j < 16; ++j)
                any |= o.near[base + j];
        } else {
            any = 1;
        }
        if (!any)
            continue;
        for (int32_t k = base; k < end; ++k) {
            if (!o.near[k])
                continue;
            const uint64_t *p = k < whole ? src + 2 * k : tail + 2 * (k - whole);
            int32_t v[4];
            yccReference(p[0], p[1], u, f, v);
            o.y0[k] = v[0];
            o.cb[k] = v[1];
            o.y1[k] = v[2];
            o.cr[k] = v[3];
        }
    }
}

// v210 words of groups six-pixel groups. The samples are laid out in
// stream order first (Cb Y0 Cr Y1 per pair), three to a word after that,
// so both loops vectorize. scratch holds 12 * groups values.
QI_TARGET_CLONES void v210Pack(const int32_t *__restrict y0,
                                                                 const int32_t *__restrict cb,
                                                                 const int32_t *__restrict y1,
                                                                 const int32_t *__restrict cr, int32_t groups,
                                                                 int32_t *__restrict scratch,
                                                                 uint8_t *__restrict dst)
{
    const int32_t pairs = 3 * groups;
    for (int32_t k = 0; k < pairs; ++k) {
        scratch[4 * k] = cb[k];
        scratch[4 * k + 1] = y0[k];
        scratch[4 * k + 2] = cr[k];
        scratch[4 * k + 3] = y1[k];
    }
    UnalignedWord *out = reinterpret_cast<UnalignedWord *>(dst);
    for (int32_t j = 0; j < 4 * groups; ++j)
        out[j] = static_cast<uint32_t>(scratch[3 * j] | scratch[3 * j + 1] << 10 | scratch[3 * j + 2] << 20);
}

// Depths other than 8 and 10 bits: the row as 10-bit words (the caller's
// Unpack scales to 10 bits and applies the overrides).
void narrowRow(const uint64_t *src, int32_t width, const Unpack &u, uint64_t *dst)
{
    for (int32_t x = 0; x < width; ++x) {
        uint32_t r, g, b;
        components<true>(src[x], u, r, g, b);
        dst[x] = (static_cast<uint64_t>(r) << 20) | (static_cast<uint64_t>(g) << 10) | b;
    }
}

} // namespace

const double *QiImageCoder::matrixWeights(int encoding)
{
    return kMatrices[encoding >= 0 && encoding <= 5 ? encoding : 2];
}

bool QiImageCoder::setOverrides(uint8_t flags, int32_t red, int32_t green, int32_t blue)
{
    m_flags = flags;
    m_constRed = red & 0xFF;
    m_constGreen = green & 0xFF;
    m_constBlue = blue & 0xFF;
    return true;
}

bool QiImageCoder::getOverrides(uint8_t &flags, uint8_t &red, uint8_t &green, uint8_t &blue) const
{
    flags = m_flags;
    red = static_cast<uint8_t>(m_constRed);
    green = static_cast<uint8_t>(m_constGreen);
    blue = static_cast<uint8_t>(m_constBlue);
    return true;
}

namespace {

// Checks shared by the encoders; resolves rowBytes.
bool prepare(const char *who, const QiImage *image, uint8_t *buffer, size_t natural, size_t &rowBytes)
{
    if (!image || !image->data() || !buffer || image->width() <= 0 || image->height() <= 0)
        return false;
    if (image->bits() < 1 || image->bits() > 16) {
        qiLog(1, "%s: %d bits per component not handled\n", who, image->bits());
        return false;
    }
    if (rowBytes == 0)
        rowBytes = natural;
    if (rowBytes < natural) {
        qiLog(1, "%s: row of %zu bytes is shorter than %zu\n", who, rowBytes, natural);
        return false;
    }
    return true;
}

// Rows of a frame, on the shared pool when asked and worth it. A row's
// output depends on its pixels alone, so a row equal to the one above it in
// the same slice (the bands, bars and flat areas of a pattern) takes a copy
// of that row's outBytes instead of being encoded again: comparing costs
// one read of the row, which the encoder would have made anyway.
template <class F>
void forRows(bool threaded, const QiImage *img, uint8_t *buffer, size_t rowBytes, size_t outBytes, F body)
{
    const int32_t width = img->width(), height = img->height();
    const size_t inBytes = static_cast<size_t>(width) * sizeof(uint64_t);
    // The copies of a frame-sized output stream past the cache (the source
    // row is in it).
    const bool stream = outBytes * static_cast<size_t>(height) >= kQiStreamBytes;
    std::function<void(int32_t, int32_t)> fn = [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) {
            uint8_t *out = buffer + static_cast<size_t>(y) * rowBytes;
            if (y > begin && std::memcmp(img->row(y), img->row(y - 1), inBytes) == 0) {
                if (stream)
                    qiStreamCopyBytes(out, out - rowBytes, outBytes, false);
                else
                    std::memcpy(out, out - rowBytes, outBytes);
            } else {
                body(y);
            }
        }
        if (stream)
            qiStreamFence();
    };
    // Small frames are not worth waking the workers.
    const int64_t pixels = static_cast<int64_t>(width) * height;
    if (!threaded || pixels < 65536) {
        fn(0, height);
        return;
    }
    int32_t grain = std::max<int32_t>(1, static_cast<int32_t>(16384 / std::max(width, 1)));
    QiWorkerPool::shared().run(height, grain, fn);
}

} // namespace

bool QiImageCoder::encodeRgb32(uint8_t *buffer, int pR, int pG, int pB, int pA, size_t rowBytes) const
{
    const QiImage *img = m_image;
    if (!prepare("QiImageCoder::encodeRgb32", img, buffer, img ? 4 * static_cast<size_t>(img->width()) : 0,
                 rowBytes))
        return false;
    const int32_t konst[3] = {m_constRed, m_constGreen, m_constBlue};
    const Unpack u = makeUnpack(img->bits(), m_flags, konst, 8);
    Rgb32Form f;
    const int pos[4] = {pR & 3, pG & 3, pB & 3, pA & 3};
    for (int i = 0; i < 4; ++i) {
        f.shift[i] = static_cast<uint32_t>(8 * pos[i]);
        f.clear[i] = ~(0xFFu << f.shift[i]);
    }
    const int32_t w = img->width();
    forRows(m_threaded, img, buffer, rowBytes, 4 * static_cast<size_t>(w), [&](int32_t y) {
        RowScratch &sc = rowScratch();
        uint32_t *c = scratch(sc.comps, 3 * static_cast<size_t>(w));
        unpackRow(img->row(y), w, u, 8, scratch(sc.narrow, static_cast<size_t>(w)), c, c + w, c + 2 * w);
        rgb32Pack(c, c + w, c + 2 * w, w, f, buffer + static_cast<size_t>(y) * rowBytes);
    });
    return true;
}

bool QiImageCoder::encodeRgb24(uint8_t *buffer, int iR, int iG, int iB, size_t rowBytes) const
{
    const QiImage *img = m_image;
    if (!prepare("QiImageCoder::encodeRgb24", img, buffer, img ? 3 * static_cast<size_t>(img->width()) : 0,
                 rowBytes))
        return false;
    const int32_t konst[3] = {m_constRed, m_constGreen, m_constBlue};
    const Unpack u = makeUnpack(img->bits(), m_flags, konst, 8);
    const int at[3] = {std::clamp(iR, 0, 2), std::clamp(iG, 0, 2), std::clamp(iB, 0, 2)};
    const int32_t w = img->width();
    forRows(m_threaded, img, buffer, rowBytes, 3 * static_cast<size_t>(w), [&](int32_t y) {
        RowScratch &sc = rowScratch();
        uint32_t *c = scratch(sc.comps, 3 * static_cast<size_t>(w));
        unpackRow(img->row(y), w, u, 8, scratch(sc.narrow, static_cast<size_t>(w)), c, c + w, c + 2 * w);
        rgb24Pack(c, c + w, c + 2 * w, w, at, buffer + static_cast<size_t>(y) * rowBytes);
    });
    return true;
}

bool QiImageCoder::encodeRgb10(uint8_t *buffer, int redField, int blueField, bool dpx, size_t rowBytes) const
{
    const QiImage *img = m_image;
    if (!prepare("QiImageCoder::encodeRgb10", img, buffer, img ? 4 * static_cast<size_t>(img->width()) : 0,
                 rowBytes))
        return false;
    const int32_t konst[3] = {m_constRed, m_constGreen, m_constBlue};
    const Unpack u = makeUnpack(img->bits(), m_flags, konst, 10);
    const uint32_t fr = static_cast<uint32_t>(10 * std::clamp(redField, 0, 2));
    const uint32_t fb = static_cast<uint32_t>(10 * std::clamp(blueField, 0, 2));
    const int32_t w = img->width();
    forRows(m_threaded, img, buffer, rowBytes, 4 * static_cast<size_t>(w), [&](int32_t y) {
        RowScratch &sc = rowScratch();
        uint32_t *c = scratch(sc.comps, 3 * static_cast<size_t>(w));
        unpackRow(img->row(y), w, u, 10, scratch(sc.narrow, static_cast<size_t>(w)), c, c + w, c + 2 * w);
        rgb10Pack(c, c + w, c + 2 * w, w, fr, fb, dpx, buffer + static_cast<size_t>(y) * rowBytes);
    });
    return true;
}

namespace {

// Shared frame walk of the two 4:2:2 encoders. On 8- and 10-bit images the
// vector kernel runs (kernel(src, blocks, dst row)) over
// whole blocks of blockPixels; the rest of each row, from pixel `done`,
// goes through the pair pass: pairsFrom(done) pairs of values, then
// pack(y, row values, done).
template <class Kernel, class Pairs, class Pack>
void encodeYcc(const QiImage *img, uint8_t flags, const int32_t konst[3], bool threaded, const YccForm &f,
               uint8_t *buffer, size_t rowBytes, size_t outBytes, int32_t (*blockPixels)(), Kernel kernel,
               Pairs pairsFrom, Pack pack)
{
    Unpack u = makeUnpack(img->bits(), flags, konst, f.tenBit ? 10 : 8);
    Unpack narrowed = u;
    // The pair pass knows 8- and 10-bit words; other depths are converted
    // to 10 bits a row at a time, overrides applied on the way.
    const bool convert = img->bits() != 8 && img->bits() != 10;
    if (convert) {
        const int32_t none[3] = {0, 0, 0};
        u = makeUnpack(img->bits(), flags, konst, 10);
        u.wide = true;
        narrowed = makeUnpack(10, 0, none, f.tenBit ? 10 : 8);
    }
    const int32_t w = img->width();
    QiYccSimdForm simd;
    QiYccFixed fixed;
    const int32_t block = !convert ? blockPixels() : 0;
    if (block > 0) {
        simd.m = f.m;
        simd.k = f.formula ? f.k : nullptr;
        simd.bits = img->bits();
        simd.outBits = f.tenBit ? 10 : 8;
        for (int c = 0; c < 3; ++c) {
            simd.keep[c] = u.keep[c];
            simd.konst[c] = u.konst[c];
        }
        simd.overrides = (u.keep[0] & u.keep[1] & u.keep[2]) != ~0u;
        // Once per frame, not per row.
        fixed = qiYccFixed(simd);
        simd.fixed = &fixed;
    }
    const int32_t blocks = block > 0 ? w / block : 0;
    const int32_t done = blocks * block;
    const int32_t pairs = pairsFrom(done);
    forRows(threaded, img, buffer, rowBytes, outBytes, [&](int32_t y) {
        const uint64_t *src = img->row(y);
        if (blocks > 0)
            kernel(src, blocks, simd, y);
        if (pairs <= 0)
            return;
        RowScratch &s = rowScratch();
        // Arrays a little more than a row apart: at a power-of-two stride
        // their stores would alias the source loads modulo 4 KiB.
        const size_t a = static_cast<size_t>(pairs) + 40;
        int32_t *v = scratch(s.values, 9 * a);
        YccRow o{v, v + a, v + 2 * a, v + 3 * a, v + 4 * a, v + 5 * a};
        if (convert) {
            uint64_t *n = scratch(s.narrow, static_cast<size_t>(w));
            narrowRow(src, w, u, n);
            yccRow(n, w, pairs, narrowed, f, o);
        } else {
            yccRow(src + done, w - done, pairs, u, f, o);
        }
        pack(y, o, done);
    });
}

} // namespace

bool QiImageCoder::encodeYCbCr8(uint8_t *buffer, const int order[4], int encoding, size_t rowBytes) const
{
    const QiImage *img = m_image;
    if (!order || !prepare("QiImageCoder::encodeYCbCr8", img, buffer,
                           img ? 2 * static_cast<size_t>(img->width()) : 0, rowBytes))
        return false;
    const int32_t konst[3] = {m_constRed, m_constGreen, m_constBlue};
    const YccForm f = makeYcc(encoding, false, false);
    const int32_t w = img->width();
    const int o0 = order[0] & 3, o1 = order[1] & 3, o2 = order[2] & 3, o3 = order[3] & 3;
    const int order4[4] = {order[0], order[1], order[2], order[3]};
    auto kernel = [&](const uint64_t *src, int32_t blocks, const QiYccSimdForm &sf, int32_t y) {
        qiYcc8Blocks(src, blocks, sf, order4, buffer + static_cast<size_t>(y) * rowBytes);
    };
    auto pairsFrom = [&](int32_t done) { return (w - done + 1) / 2; };
    encodeYcc(img, m_flags, konst, m_threaded, f, buffer, rowBytes, 2 * static_cast<size_t>(w), qiYcc8BlockPixels,
              kernel, pairsFrom,
              [&](int32_t y, const YccRow &r, int32_t done) {
        const int32_t *V[4] = {r.y0, r.cb, r.y1, r.cr};
        const int32_t *a = V[o1], *b = V[o0], *c = V[o3], *d = V[o2];
        uint8_t *dst = buffer + static_cast<size_t>(y) * rowBytes + 2 * static_cast<size_t>(done);
        const int32_t whole = (w - done) / 2, pairs = (w - done + 1) / 2;
        for (int32_t k = 0; k < whole; ++k) {
            dst[4 * k] = static_cast<uint8_t>(a[k]);
            dst[4 * k + 1] = static_cast<uint8_t>(b[k]);
            dst[4 * k + 2] = static_cast<uint8_t>(c[k]);
            dst[4 * k + 3] = static_cast<uint8_t>(d[k]);
        }
        if (whole < pairs) {
            dst[4 * whole] = static_cast<uint8_t>(a[whole]);
            dst[4 * whole + 1] = static_cast<uint8_t>(b[whole]);
        }
    });
    return true;
}

bool QiImageCoder::encodeV210(uint8_t *buffer, bool exact, int encoding, size_t rowBytes) const
{
    const QiImage *img = m_image;
    if (!prepare("QiImageCoder::encodeV210", img, buffer, img ? v210Stride(img->width()) : 0, rowBytes))
        return false;
    const int32_t konst[3] = {m_constRed, m_constGreen, m_constBlue};
    const YccForm f = makeYcc(encoding, true, exact);
    const int32_t w = img->width();
    const int32_t groups = (w + 5) / 6;
    auto kernel = [&](const uint64_t *src, int32_t blocks, const QiYccSimdForm &sf, int32_t y) {
        qiV210Blocks(src, blocks, sf, buffer + static_cast<size_t>(y) * rowBytes);
    };
    // Blocks are four whole groups, so the rest starts on a group.
    auto pairsFrom = [&](int32_t done) { return 3 * (groups - done / 6); };
    encodeYcc(img, m_flags, konst, m_threaded, f, buffer, rowBytes, 16 * static_cast<size_t>(groups),
              qiV210BlockPixels, kernel, pairsFrom,
              [&](int32_t y, const YccRow &r, int32_t done) {
        v210Pack(r.y0, r.cb, r.y1, r.cr, groups - done / 6, r.spare,
                 buffer + static_cast<size_t>(y) * rowBytes + 16 * static_cast<size_t>(done / 6));
    });
    return true;
}
