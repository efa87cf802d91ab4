// Built with -ffp-contract=off and without FMA in the target: a fused
// multiply-add rounds once where the definition rounds twice.
#include "QiYccSimd.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QI_YCC_SIMD 1
#endif

QiYccFixed qiYccFixed(const QiYccSimdForm &f, int frac)
{
    QiYccFixed x;
    x.frac = frac >= 0 ? frac : qiYccFixedFraction(f.outBits, f.k != nullptr);
    double w[3][3]; // luma, Cb, Cr weights per component
    double span[3]; // largest input magnitude each row's weights meet
    if (f.k) {
        // y = Kr r + Kg g + Kb b on (code - 64) / 876; the chroma codes
        // scale b - y and r - y by sB, sR and 896/876; all from one pixel.
        const double *k = f.k;
        const double sb = k[3] * 896.0 / 876.0, sr = k[4] * 896.0 / 876.0;
        const double rows[3][3] = {{k[0], k[1], k[2]},
                                   {-sb * k[0], -sb * k[1], sb * (1.0 - k[2])},
                                   {sr * (1.0 - k[0]), -sr * k[1], -sr * k[2]}};
        std::copy(&rows[0][0], &rows[0][0] + 9, &w[0][0]);
        span[0] = span[1] = span[2] = 1023 - 64;
        x.centre = 64;
        x.offY = static_cast<int32_t>(std::ldexp(64.5, x.frac));
        x.offC = static_cast<int32_t>(std::ldexp(512.5, x.frac));
        x.addY = x.addC = 0;
        // Out-of-range input (super-white, say) is held to the 10-bit
        // range, as the matrix path holds it.
        x.lo = 0;
        x.hi = 1023;
    } else {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                w[r][c] = f.m[3 * r + c];
        const double maxAbs = (1 << f.outBits) - 1 - 16;
        // Chroma weighs the pair's sum of each component.
        span[0] = maxAbs;
        span[1] = span[2] = 2 * maxAbs;
        x.centre = 16;
        x.offY = x.offC = 1 << (x.frac - 1);
        x.addY = 16;
        x.addC = f.outBits == 10 ? 512 : 128;
        x.lo = 0;
        x.hi = f.outBits == 10 ? 1023 : 255;
    }
    int32_t *rows[3] = {x.y, x.cb, x.cr};
    double bound = 0;
    for (int r = 0; r < 3; ++r) {
        double err = 0;
        for (int c = 0; c < 3; ++c) {
            const double exact = std::ldexp(w[r][c], x.frac);
            rows[r][c] = static_cast<int32_t>(std::llround(exact));
            err += std::fabs(rows[r][c] - exact) * span[r];
        }
        bound = std::max(bound, err);
    }
    // The weights' rounding moves a sum by at most `bound` units; the
    // double evaluation differs from exact arithmetic by far less than the
    // 16 units of slack.
    x.margin = static_cast<int32_t>(std::ceil(bound)) + 16;
    // Matrix chroma sums both pixels of a pair, so twice the centre.
    const uint32_t centreY = static_cast<uint32_t>(x.centre), centreC = centreY * (f.k ? 1u : 2u);
    uint32_t offY = static_cast<uint32_t>(x.offY), offCb = static_cast<uint32_t>(x.offC), offCr = offCb;
    for (int c = 0; c < 3; ++c) {
        offY -= centreY * static_cast<uint32_t>(x.y[c]);
        offCb -= centreC * static_cast<uint32_t>(x.cb[c]);
        offCr -= centreC * static_cast<uint32_t>(x.cr[c]);
    }
    x.rawOffY = static_cast<int32_t>(offY);
    x.rawOffCb = static_cast<int32_t>(offCb);
    x.rawOffCr = static_cast<int32_t>(offCr);
    return x;
}

#ifdef QI_YCC_SIMD

#define QI_AVX2 __attribute__((target("avx2")))
#define QI_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace {

constexpr int fixedFraction(int outBits, bool formula) { return qiYccFixedFraction(outBits, formula); }

// Everything one call needs in registers.
struct Lanes {
    __m256i mask, keep[3], konst[3], centre, permute;
    __m256d w[9], half;
    __m256i addY, addC, hi;
    // Fixed-point estimate: luma weights, chroma weights (Cb in the low
    // half, Cr in the high half), the 0.5 offset, and the tie test.
    __m256i fixY[3], fixC[3], fixOffY, fixOffC, margin, fracMask, band;
    __m256i lo;
    // Formula path: Kr Kg Kb sB sR and its scale factors.
    __m256d k[5], d876, d896, d64, d512;
};

QI_AVX2_INLINE Lanes makeLanes(const QiYccSimdForm &f)
{
    Lanes l;
    l.mask = _mm256_set1_epi32((1 << f.bits) - 1);
    for (int c = 0; c < 3; ++c) {
        l.keep[c] = _mm256_set1_epi32(static_cast<int32_t>(f.keep[c]));
        l.konst[c] = _mm256_set1_epi32(static_cast<int32_t>(f.konst[c]));
    }
    const QiYccFixed x = f.fixed ? *f.fixed : qiYccFixed(f);
    l.centre = _mm256_set1_epi32(x.centre);
    // Low words of p0 p1 p4 p5 | p2 p3 p6 p7 to p0 p2 p4 p6 | p1 p3 p5 p7.
    l.permute = _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7);
    for (int i = 0; i < 9; ++i)
        l.w[i] = _mm256_set1_pd(f.m ? f.m[i] : 0.0);
    l.half = _mm256_set1_pd(0.5);
    l.addY = _mm256_set1_epi32(x.addY);
    l.addC = _mm256_set1_epi32(x.addC);
    l.lo = _mm256_set1_epi32(x.lo);
    l.hi = _mm256_set1_epi32(x.hi);
    for (int i = 0; i < 5; ++i)
        l.k[i] = _mm256_set1_pd(f.k ? f.k[i] : 0.0);
    l.d876 = _mm256_set1_pd(876.0);
    l.d896 = _mm256_set1_pd(896.0);
    l.d64 = _mm256_set1_pd(64.0);
    l.d512 = _mm256_set1_pd(512.0);
    for (int c = 0; c < 3; ++c) {
        l.fixY[c] = _mm256_set1_epi32(x.y[c]);
        l.fixC[c] = _mm256_setr_epi32(x.cb[c], x.cb[c], x.cb[c], x.cb[c], x.cr[c], x.cr[c], x.cr[c], x.cr[c]);
    }
    l.fixOffY = _mm256_set1_epi32(x.rawOffY);
    l.fixOffC = _mm256_setr_epi32(x.rawOffCb, x.rawOffCb, x.rawOffCb, x.rawOffCb, x.rawOffCr, x.rawOffCr,
                                  x.rawOffCr, x.rawOffCr);
    l.margin = _mm256_set1_epi32(x.margin);
    l.fracMask = _mm256_set1_epi32((1 << x.frac) - 1);
    l.band = _mm256_set1_epi32(2 * x.margin + 1);
    return l;
}

// The definition's row sums, left to right; terms with a zero weight add a
// signed zero, which changes no sum, and are left out.
QI_AVX2_INLINE __m256d luma(const __m256d m[3], const __m256d p[3])
{
    __m256d s = _mm256_mul_pd(m[0], p[0]);
    s = _mm256_add_pd(s, _mm256_mul_pd(m[1], p[1]));
    return _mm256_add_pd(s, _mm256_mul_pd(m[2], p[2]));
}

QI_AVX2_INLINE __m256d chroma(const __m256d m[3], const __m256d p[3], const __m256d q[3])
{
    __m256d s = _mm256_mul_pd(m[0], p[0]);
    s = _mm256_add_pd(s, _mm256_mul_pd(m[1], p[1]));
    s = _mm256_add_pd(s, _mm256_mul_pd(m[2], p[2]));
    s = _mm256_add_pd(s, _mm256_mul_pd(m[0], q[0]));
    s = _mm256_add_pd(s, _mm256_mul_pd(m[1], q[1]));
    return _mm256_add_pd(s, _mm256_mul_pd(m[2], q[2]));
}

// Plus 0.5, truncated toward zero.
QI_AVX2_INLINE __m128i code(__m256d s, __m256d half) { return _mm256_cvttpd_epi32(_mm256_add_pd(s, half)); }

// The components of eight pixels, low words p0 p2 p4 p6 | p1 p3 p5 p7 (the
// pairs' first pixels, then their second ones): overridden, scaled to the
// output depth. The centre is left on: the fixed-point offsets allow for
// it, and the double arithmetic takes it off itself.
template <int Bits, int OutBits, bool Overrides>
QI_AVX2_INLINE void components(const uint64_t *src, const Lanes &l, __m256i v[3])
{
    const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src)));
    const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 4)));
    __m256i w = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    w = _mm256_permutevar8x32_epi32(w, l.permute);
    v[0] = _mm256_and_si256(_mm256_srli_epi32(w, 2 * Bits), l.mask);
    v[1] = _mm256_and_si256(_mm256_srli_epi32(w, Bits), l.mask);
    v[2] = _mm256_and_si256(w, l.mask);
    for (int c = 0; c < 3; ++c) {
        if constexpr (Overrides)
            v[c] = _mm256_or_si256(_mm256_and_si256(v[c], l.keep[c]), l.konst[c]);
        if constexpr (OutBits > Bits)
            v[c] = _mm256_slli_epi32(v[c], OutBits - Bits);
        else if constexpr (Bits > OutBits)
            v[c] = _mm256_srli_epi32(v[c], Bits - OutBits);
    }
}

// Offsets added (none on the formula path), clamped to the output range.
template <bool Formula>
QI_AVX2_INLINE void offsetAndClamp(__m256i &Y, __m256i &C, const Lanes &l)
{
    Y = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(Y, l.addY), l.lo), l.hi);
    C = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(C, l.addC), l.lo), l.hi);
}

// The formula path's luma of one pixel: Kr r + Kg g + Kb b, each component
// (code - 64) / 876.
QI_AVX2_INLINE __m256d formulaLuma(const Lanes &l, const __m256d p[3], __m256d q[3])
{
    for (int c = 0; c < 3; ++c)
        q[c] = _mm256_div_pd(p[c], l.d876);
    __m256d s = _mm256_mul_pd(l.k[0], q[0]);
    s = _mm256_add_pd(s, _mm256_mul_pd(l.k[1], q[1]));
    return _mm256_add_pd(s, _mm256_mul_pd(l.k[2], q[2]));
}

// value * scale + offset + 0.5, truncated toward zero.
QI_AVX2_INLINE __m128i formulaCode(__m256d v, __m256d scale, __m256d offset, __m256d half)
{
    return _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(v, scale), offset), half));
}

// Four pairs in the defined double arithmetic: Y = Y0 of the pairs | Y1 of
// the pairs, C = Cb | Cr, offsets added and clamped.
template <bool Formula>
QI_AVX2_INLINE void pairsExact(const __m256i raw[3], const Lanes &l, __m256i &Y, __m256i &C)
{
    __m256d first[3], second[3];
    for (int c = 0; c < 3; ++c) {
        const __m256i v = _mm256_sub_epi32(raw[c], l.centre);
        first[c] = _mm256_cvtepi32_pd(_mm256_castsi256_si128(v));
        second[c] = _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1));
    }
    if constexpr (Formula) {
        // Both chroma values from the pair's first pixel.
        __m256d a[3], b[3];
        const __m256d y0 = formulaLuma(l, first, a), y1 = formulaLuma(l, second, b);
        const __m256d cb = _mm256_mul_pd(_mm256_sub_pd(a[2], y0), l.k[3]);
        const __m256d cr = _mm256_mul_pd(_mm256_sub_pd(a[0], y0), l.k[4]);
        Y = _mm256_set_m128i(formulaCode(y1, l.d876, l.d64, l.half), formulaCode(y0, l.d876, l.d64, l.half));
        C = _mm256_set_m128i(formulaCode(cr, l.d896, l.d512, l.half), formulaCode(cb, l.d896, l.d512, l.half));
        offsetAndClamp<true>(Y, C, l);
        return;
    }
    const __m128i y0 = code(luma(l.w, first), l.half), y1 = code(luma(l.w, second), l.half);
    const __m128i cb = code(chroma(l.w + 3, first, second), l.half);
    const __m128i cr = code(chroma(l.w + 6, first, second), l.half);
    Y = _mm256_set_m128i(y1, y0);
    C = _mm256_set_m128i(cr, cb);
    offsetAndClamp<Formula>(Y, C, l);
}

// All ones in the lanes whose fraction lies within the margin of a whole
// number.
QI_AVX2_INLINE __m256i nearStep(__m256i t, const Lanes &l)
{
    // (t + margin) mod 2^F: the fraction moved up by the margin.
    const __m256i d = _mm256_and_si256(_mm256_add_epi32(t, l.margin), l.fracMask);
    return _mm256_cmpgt_epi32(l.band, d);
}

// The same four pairs in 32-bit fixed point, eight lanes at a time. Where a
// sum lies within the error margin of a truncation step the estimate may
// differ from the definition: then false, and nothing is written.
template <int OutBits, bool Formula>
QI_AVX2_INLINE bool pairsFixed(const __m256i v[3], const Lanes &l, __m256i &Y, __m256i &C)
{
    constexpr int F = fixedFraction(OutBits, Formula);
    __m256i ty = _mm256_add_epi32(_mm256_mullo_epi32(l.fixY[0], v[0]), l.fixOffY);
    ty = _mm256_add_epi32(ty, _mm256_mullo_epi32(l.fixY[1], v[1]));
    ty = _mm256_add_epi32(ty, _mm256_mullo_epi32(l.fixY[2], v[2]));
    // Matrix chroma weighs the sum of the pair's two pixels, the formula its
    // first pixel; either in both halves.
    __m256i tc = l.fixOffC;
    for (int c = 0; c < 3; ++c) {
        const __m256i q = Formula ? _mm256_permute2x128_si256(v[c], v[c], 0x00)
                                  : _mm256_add_epi32(v[c], _mm256_permute2x128_si256(v[c], v[c], 0x01));
        tc = _mm256_add_epi32(tc, _mm256_mullo_epi32(l.fixC[c], q));
    }
    const __m256i near = _mm256_or_si256(nearStep(ty, l), nearStep(tc, l));
    if (!_mm256_testz_si256(near, near))
        return false;
    // Truncation toward zero of a sum that is not an integer: floor, plus
    // one below zero.
    Y = _mm256_sub_epi32(_mm256_srai_epi32(ty, F), _mm256_srai_epi32(ty, 31));
    C = _mm256_sub_epi32(_mm256_srai_epi32(tc, F), _mm256_srai_epi32(tc, 31));
    offsetAndClamp<Formula>(Y, C, l);
    return true;
}

template <int Bits, int OutBits, bool Overrides, bool Formula>
QI_AVX2_INLINE void fourPairs(const uint64_t *src, const Lanes &l, __m256i &Y, __m256i &C)
{
    __m256i v[3];
    components<Bits, OutBits, Overrides>(src, l, v);
    if (!pairsFixed<OutBits, Formula>(v, l, Y, C))
        pairsExact<Formula>(v, l, Y, C);
}

// Samples of four pairs in stream order: Cb Y0 Cr Y1 of pairs 0, 1 and of
// pairs 2, 3.
QI_AVX2_INLINE void streamOrder(__m256i Y, __m256i C, __m256i &s01, __m256i &s23)
{
    s01 = _mm256_permute4x64_epi64(_mm256_unpacklo_epi32(C, Y), _MM_SHUFFLE(3, 1, 2, 0));
    s23 = _mm256_permute4x64_epi64(_mm256_unpackhi_epi32(C, Y), _MM_SHUFFLE(3, 1, 2, 0));
}

// Eight v210 words from 24 samples: word j = s[3j] | s[3j+1] << 10 | s[3j+2] << 20.
QI_AVX2_INLINE __m256i packWords(__m256i x, __m256i y, __m256i z)
{
    // Samples 3j, 3j+1, 3j+2 sit at disjoint lanes of x, y and z: blend
    // them together, then put them in order.
    const __m256i a = _mm256_permutevar8x32_epi32(_mm256_blend_epi32(_mm256_blend_epi32(x, y, 0x92), z, 0x24),
                                                  _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
    const __m256i b = _mm256_permutevar8x32_epi32(_mm256_blend_epi32(_mm256_blend_epi32(x, y, 0x24), z, 0x49),
                                                  _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6));
    const __m256i c = _mm256_permutevar8x32_epi32(_mm256_blend_epi32(_mm256_blend_epi32(x, y, 0x49), z, 0x92),
                                                  _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7));
    return _mm256_or_si256(_mm256_or_si256(a, _mm256_slli_epi32(b, 10)), _mm256_slli_epi32(c, 20));
}

template <int Bits, bool Overrides, bool Formula>
QI_AVX2 void v210Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, uint8_t *dst)
{
    const Lanes l = makeLanes(f);
    for (int32_t k = 0; k < blocks; ++k, src += 24, dst += 64) {
        __m256i s[6], Y, C;
        for (int t = 0; t < 3; ++t) {
            fourPairs<Bits, 10, Overrides, Formula>(src + 8 * t, l, Y, C);
            streamOrder(Y, C, s[2 * t], s[2 * t + 1]);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), packWords(s[0], s[1], s[2]));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32), packWords(s[3], s[4], s[5]));
    }
}

template <int Bits, bool Overrides>
QI_AVX2 void ycc8Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, const int order[4],
                        uint8_t *dst)
{
    const Lanes l = makeLanes(f);
    // Byte k of each pair's word is V[pick[k]].
    const int pick[4] = {order[1] & 3, order[0] & 3, order[3] & 3, order[2] & 3};
    for (int32_t k = 0; k < blocks; ++k, src += 8, dst += 16) {
        __m256i Y, C;
        fourPairs<Bits, 8, Overrides, false>(src, l, Y, C);
        const __m128i V[4] = {_mm256_castsi256_si128(Y), _mm256_castsi256_si128(C), _mm256_extracti128_si256(Y, 1),
                              _mm256_extracti128_si256(C, 1)};
        __m128i word = V[pick[0]];
        word = _mm_or_si128(word, _mm_slli_epi32(V[pick[1]], 8));
        word = _mm_or_si128(word, _mm_slli_epi32(V[pick[2]], 16));
        word = _mm_or_si128(word, _mm_slli_epi32(V[pick[3]], 24));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), word);
    }
}

} // namespace

namespace {

std::atomic<int> g_levelCap{2};

int bestLevel()
{
    static const int level = qiYccSimd512Available() ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    return level;
}

} // namespace

int qiYccSimdLevel() { return std::min(bestLevel(), g_levelCap.load(std::memory_order_relaxed)); }

void qiYccSimdLimit(int level) { g_levelCap.store(level, std::memory_order_relaxed); }

int32_t qiV210BlockPixels()
{
    static constexpr int32_t kPixels[3] = {0, 24, 48};
    return kPixels[qiYccSimdLevel()];
}

int32_t qiYcc8BlockPixels()
{
    static constexpr int32_t kPixels[3] = {0, 8, 16};
    return kPixels[qiYccSimdLevel()];
}

void qiV210Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, uint8_t *dst)
{
    using Fn = void (*)(const uint64_t *, int32_t, const QiYccSimdForm &, uint8_t *);
    static constexpr Fn kFns[2][2][2] = {
        {{v210Blocks<8, false, false>, v210Blocks<8, true, false>},
         {v210Blocks<10, false, false>, v210Blocks<10, true, false>}},
        {{v210Blocks<8, false, true>, v210Blocks<8, true, true>},
         {v210Blocks<10, false, true>, v210Blocks<10, true, true>}}};
    const int level = qiYccSimdLevel();
    if (level == 2)
        qiV210Blocks512(src, blocks, f, dst);
    else if (level == 1)
        kFns[f.k != nullptr][f.bits == 10][f.overrides](src, blocks, f, dst);
}

void qiYcc8Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, const int order[4], uint8_t *dst)
{
    using Fn = void (*)(const uint64_t *, int32_t, const QiYccSimdForm &, const int *, uint8_t *);
    static constexpr Fn kFns[2][2] = {{ycc8Blocks<8, false>, ycc8Blocks<8, true>},
                                      {ycc8Blocks<10, false>, ycc8Blocks<10, true>}};
    const int level = qiYccSimdLevel();
    if (level == 2)
        qiYcc8Blocks512(src, blocks, f, order, dst);
    else if (level == 1)
        kFns[f.bits == 10][f.overrides](src, blocks, f, order, dst);
}

#else

int qiYccSimdLevel() { return 0; }
void qiYccSimdLimit(int) {}
int32_t qiV210BlockPixels() { return 0; }
int32_t qiYcc8BlockPixels() { return 0; }
void qiV210Blocks(const uint64_t *, int32_t, const QiYccSimdForm &, uint8_t *) {}
void qiYcc8Blocks(const uint64_t *, int32_t, const QiYccSimdForm &, const int *, uint8_t *) {}

#endif
