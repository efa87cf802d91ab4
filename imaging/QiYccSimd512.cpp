// The 4:2:2 kernels at sixteen lanes. Same arithmetic as the 256-bit
// kernels (see QiYccSimd.cpp): a 32-bit fixed-point estimate, and the
// defined double arithmetic for any eight pairs holding a sum too close to a
// truncation step. Built with -ffp-contract=off and without FMA.
#include "QiYccSimd.h"

#if defined(__x86_64__)
#include <immintrin.h>

#define QI_AVX512 __attribute__((target("avx512f,avx2")))
#define QI_AVX512_INLINE __attribute__((target("avx512f,avx2"), always_inline)) inline

namespace {

struct Lanes {
    __m512i mask, keep[3], konst[3], centre, evensOdds;
    __m512d w[9], half;
    __m512i addY, addC, lo, hi;
    __m512i fixY[3], fixC[3], fixOffY, fixOffC, margin, fracMask, band;
    // Formula path: Kr Kg Kb sB sR and its scale factors.
    __m512d k[5], d876, d896, d64, d512;
};

QI_AVX512_INLINE Lanes makeLanes(const QiYccSimdForm &f)
{
    Lanes l;
    l.mask = _mm512_set1_epi32((1 << f.bits) - 1);
    for (int c = 0; c < 3; ++c) {
        l.keep[c] = _mm512_set1_epi32(static_cast<int32_t>(f.keep[c]));
        l.konst[c] = _mm512_set1_epi32(static_cast<int32_t>(f.konst[c]));
    }
    const QiYccFixed x = f.fixed ? *f.fixed : qiYccFixed(f);
    l.centre = _mm512_set1_epi32(x.centre);
    // Low words of sixteen pixels: the pairs' first pixels, then their
    // second ones.
    l.evensOdds = _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 2, 6, 10, 14, 18, 22, 26, 30);
    for (int i = 0; i < 9; ++i)
        l.w[i] = _mm512_set1_pd(f.m ? f.m[i] : 0.0);
    l.half = _mm512_set1_pd(0.5);
    l.addY = _mm512_set1_epi32(x.addY);
    l.addC = _mm512_set1_epi32(x.addC);
    l.lo = _mm512_set1_epi32(x.lo);
    l.hi = _mm512_set1_epi32(x.hi);
    for (int i = 0; i < 5; ++i)
        l.k[i] = _mm512_set1_pd(f.k ? f.k[i] : 0.0);
    l.d876 = _mm512_set1_pd(876.0);
    l.d896 = _mm512_set1_pd(896.0);
    l.d64 = _mm512_set1_pd(64.0);
    l.d512 = _mm512_set1_pd(512.0);
    for (int c = 0; c < 3; ++c) {
        l.fixY[c] = _mm512_set1_epi32(x.y[c]);
        // Cb weights in the low half, Cr weights in the high half.
        l.fixC[c] = _mm512_inserti64x4(_mm512_set1_epi32(x.cb[c]), _mm256_set1_epi32(x.cr[c]), 1);
    }
    l.fixOffY = _mm512_set1_epi32(x.rawOffY);
    l.fixOffC = _mm512_inserti64x4(_mm512_set1_epi32(x.rawOffCb), _mm256_set1_epi32(x.rawOffCr), 1);
    l.margin = _mm512_set1_epi32(x.margin);
    l.fracMask = _mm512_set1_epi32((1 << x.frac) - 1);
    l.band = _mm512_set1_epi32(2 * x.margin + 1);
    return l;
}

// Components of sixteen pixels (eight pairs): overridden, scaled to the
// output depth. The centre is left on: the fixed-point offsets allow for
// it, and the double arithmetic takes it off itself.
template <int Bits, int OutBits, bool Overrides>
QI_AVX512_INLINE void components(const uint64_t *src, const Lanes &l, __m512i v[3])
{
    const __m512i a = _mm512_loadu_si512(src), b = _mm512_loadu_si512(src + 8);
    const __m512i w = _mm512_permutex2var_epi32(a, l.evensOdds, b);
    v[0] = _mm512_and_si512(_mm512_srli_epi32(w, 2 * Bits), l.mask);
    v[1] = _mm512_and_si512(_mm512_srli_epi32(w, Bits), l.mask);
    v[2] = _mm512_and_si512(w, l.mask);
    for (int c = 0; c < 3; ++c) {
        if constexpr (Overrides)
            v[c] = _mm512_or_si512(_mm512_and_si512(v[c], l.keep[c]), l.konst[c]);
        if constexpr (OutBits > Bits)
            v[c] = _mm512_slli_epi32(v[c], OutBits - Bits);
        else if constexpr (Bits > OutBits)
            v[c] = _mm512_srli_epi32(v[c], Bits - OutBits);
    }
}

// Offsets added (none on the formula path), clamped to the output range.
template <bool Formula>
QI_AVX512_INLINE void offsetAndClamp(__m512i &Y, __m512i &C, const Lanes &l)
{
    Y = _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(Y, l.addY), l.lo), l.hi);
    C = _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(C, l.addC), l.lo), l.hi);
}

// The definition's row sums, left to right (zero-weight terms change no sum).
QI_AVX512_INLINE __m512d luma(const __m512d m[3], const __m512d p[3])
{
    __m512d s = _mm512_mul_pd(m[0], p[0]);
    s = _mm512_add_pd(s, _mm512_mul_pd(m[1], p[1]));
    return _mm512_add_pd(s, _mm512_mul_pd(m[2], p[2]));
}

QI_AVX512_INLINE __m512d chroma(const __m512d m[3], const __m512d p[3], const __m512d q[3])
{
    __m512d s = _mm512_mul_pd(m[0], p[0]);
    s = _mm512_add_pd(s, _mm512_mul_pd(m[1], p[1]));
    s = _mm512_add_pd(s, _mm512_mul_pd(m[2], p[2]));
    s = _mm512_add_pd(s, _mm512_mul_pd(m[0], q[0]));
    s = _mm512_add_pd(s, _mm512_mul_pd(m[1], q[1]));
    return _mm512_add_pd(s, _mm512_mul_pd(m[2], q[2]));
}

QI_AVX512_INLINE __m256i code(__m512d s, __m512d half) { return _mm512_cvttpd_epi32(_mm512_add_pd(s, half)); }

// The formula path's luma of one pixel: Kr r + Kg g + Kb b, each component
// (code - 64) / 876.
QI_AVX512_INLINE __m512d formulaLuma(const Lanes &l, const __m512d p[3], __m512d q[3])
{
    for (int c = 0; c < 3; ++c)
        q[c] = _mm512_div_pd(p[c], l.d876);
    __m512d s = _mm512_mul_pd(l.k[0], q[0]);
    s = _mm512_add_pd(s, _mm512_mul_pd(l.k[1], q[1]));
    return _mm512_add_pd(s, _mm512_mul_pd(l.k[2], q[2]));
}

// value * scale + offset + 0.5, truncated toward zero.
QI_AVX512_INLINE __m256i formulaCode(__m512d v, __m512d scale, __m512d offset, __m512d half)
{
    return _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(v, scale), offset), half));
}

// Eight pairs in the defined double arithmetic: Y = Y0s | Y1s, C = Cbs | Crs.
template <bool Formula>
QI_AVX512_INLINE void pairsExact(const __m512i raw[3], const Lanes &l, __m512i &Y, __m512i &C)
{
    __m512d first[3], second[3];
    for (int c = 0; c < 3; ++c) {
        const __m512i v = _mm512_sub_epi32(raw[c], l.centre);
        first[c] = _mm512_cvtepi32_pd(_mm512_castsi512_si256(v));
        second[c] = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
    }
    if constexpr (Formula) {
        // Both chroma values from the pair's first pixel.
        __m512d a[3], b[3];
        const __m512d y0 = formulaLuma(l, first, a), y1 = formulaLuma(l, second, b);
        const __m512d cb = _mm512_mul_pd(_mm512_sub_pd(a[2], y0), l.k[3]);
        const __m512d cr = _mm512_mul_pd(_mm512_sub_pd(a[0], y0), l.k[4]);
        Y = _mm512_inserti64x4(_mm512_castsi256_si512(formulaCode(y0, l.d876, l.d64, l.half)),
                               formulaCode(y1, l.d876, l.d64, l.half), 1);
        C = _mm512_inserti64x4(_mm512_castsi256_si512(formulaCode(cb, l.d896, l.d512, l.half)),
                               formulaCode(cr, l.d896, l.d512, l.half), 1);
        offsetAndClamp<true>(Y, C, l);
        return;
    }
    Y = _mm512_inserti64x4(_mm512_castsi256_si512(code(luma(l.w, first), l.half)), code(luma(l.w, second), l.half),
                           1);
    C = _mm512_inserti64x4(_mm512_castsi256_si512(code(chroma(l.w + 3, first, second), l.half)),
                           code(chroma(l.w + 6, first, second), l.half), 1);
    offsetAndClamp<Formula>(Y, C, l);
}

QI_AVX512_INLINE __mmask16 nearStep(__m512i t, const Lanes &l)
{
    // (t + margin) mod 2^F: the fraction moved up by the margin.
    const __m512i d = _mm512_and_si512(_mm512_add_epi32(t, l.margin), l.fracMask);
    return _mm512_cmplt_epi32_mask(d, l.band);
}

// Eight pairs in fixed point; false (nothing written) when a sum is too
// close to a truncation step.
template <int OutBits, bool Formula>
QI_AVX512_INLINE bool pairsFixed(const __m512i v[3], const Lanes &l, __m512i &Y, __m512i &C)
{
    constexpr int F = qiYccFixedFraction(OutBits, Formula);
    __m512i ty = _mm512_add_epi32(_mm512_mullo_epi32(l.fixY[0], v[0]), l.fixOffY);
    ty = _mm512_add_epi32(ty, _mm512_mullo_epi32(l.fixY[1], v[1]));
    ty = _mm512_add_epi32(ty, _mm512_mullo_epi32(l.fixY[2], v[2]));
    __m512i tc = l.fixOffC;
    for (int c = 0; c < 3; ++c) {
        // Matrix chroma weighs the pair's sum, the formula its first pixel;
        // either in both halves.
        const __m512i q = Formula ? _mm512_shuffle_i64x2(v[c], v[c], _MM_SHUFFLE(1, 0, 1, 0))
                                  : _mm512_add_epi32(v[c], _mm512_shuffle_i64x2(v[c], v[c], _MM_SHUFFLE(1, 0, 3, 2)));
        tc = _mm512_add_epi32(tc, _mm512_mullo_epi32(l.fixC[c], q));
    }
    if ((nearStep(ty, l) | nearStep(tc, l)) != 0)
        return false;
    Y = _mm512_sub_epi32(_mm512_srai_epi32(ty, F), _mm512_srai_epi32(ty, 31));
    C = _mm512_sub_epi32(_mm512_srai_epi32(tc, F), _mm512_srai_epi32(tc, 31));
    offsetAndClamp<Formula>(Y, C, l);
    return true;
}

template <int Bits, int OutBits, bool Overrides, bool Formula>
QI_AVX512_INLINE void eightPairs(const uint64_t *src, const Lanes &l, __m512i &Y, __m512i &C)
{
    __m512i v[3];
    components<Bits, OutBits, Overrides>(src, l, v);
    if (!pairsFixed<OutBits, Formula>(v, l, Y, C))
        pairsExact<Formula>(v, l, Y, C);
}

// Sixteen v210 words from 48 samples x | y | z: word j = s[3j] | s[3j+1] << 10 | s[3j+2] << 20.
QI_AVX512_INLINE __m512i packWords(__m512i x, __m512i y, __m512i z)
{
    // Lane j of part r is sample 3j + r: from x | y below 32, else from z.
    const __m512i fromXY[3] = {_mm512_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 1, 4, 7, 10, 13),
                               _mm512_setr_epi32(1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 2, 5, 8, 11, 14),
                               _mm512_setr_epi32(2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 3, 6, 9, 12, 15)};
    const __m512i fromZ[3] = {_mm512_setr_epi32(0, 3, 6, 9, 12, 15, 2, 5, 8, 11, 14, 1, 4, 7, 10, 13),
                              _mm512_setr_epi32(1, 4, 7, 10, 13, 0, 3, 6, 9, 12, 15, 2, 5, 8, 11, 14),
                              _mm512_setr_epi32(2, 5, 8, 11, 14, 1, 4, 7, 10, 13, 0, 3, 6, 9, 12, 15)};
    const __mmask16 zLanes[3] = {0xf800, 0xf800, 0xfc00};
    __m512i part[3];
    for (int r = 0; r < 3; ++r)
        part[r] = _mm512_mask_permutexvar_epi32(_mm512_permutex2var_epi32(x, fromXY[r], y), zLanes[r], fromZ[r], z);
    return _mm512_ternarylogic_epi32(part[0], _mm512_slli_epi32(part[1], 10), _mm512_slli_epi32(part[2], 20), 0xFE);
}

// Samples of eight pairs in stream order (Cb Y0 Cr Y1 per pair): pairs 0-3, pairs 4-7.
QI_AVX512_INLINE void streamOrder(__m512i Y, __m512i C, __m512i &s0, __m512i &s1)
{
    // Index k < 16 picks C[k], 16 + k picks Y[k].
    const __m512i lo = _mm512_setr_epi32(0, 16, 8, 24, 1, 17, 9, 25, 2, 18, 10, 26, 3, 19, 11, 27);
    const __m512i hi = _mm512_setr_epi32(4, 20, 12, 28, 5, 21, 13, 29, 6, 22, 14, 30, 7, 23, 15, 31);
    s0 = _mm512_permutex2var_epi32(C, lo, Y);
    s1 = _mm512_permutex2var_epi32(C, hi, Y);
}

template <int Bits, bool Overrides, bool Formula>
QI_AVX512 void v210Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, uint8_t *dst)
{
    const Lanes l = makeLanes(f);
    for (int32_t k = 0; k < blocks; ++k, src += 48, dst += 128) {
        __m512i s[6], Y, C;
        for (int t = 0; t < 3; ++t) {
            eightPairs<Bits, 10, Overrides, Formula>(src + 16 * t, l, Y, C);
            streamOrder(Y, C, s[2 * t], s[2 * t + 1]);
        }
        _mm512_storeu_si512(dst, packWords(s[0], s[1], s[2]));
        _mm512_storeu_si512(dst + 64, packWords(s[3], s[4], s[5]));
    }
}

template <int Bits, bool Overrides>
QI_AVX512 void ycc8Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, const int order[4],
                          uint8_t *dst)
{
    const Lanes l = makeLanes(f);
    const int pick[4] = {order[1] & 3, order[0] & 3, order[3] & 3, order[2] & 3};
    for (int32_t k = 0; k < blocks; ++k, src += 16, dst += 32) {
        __m512i Y, C;
        eightPairs<Bits, 8, Overrides, false>(src, l, Y, C);
        const __m256i V[4] = {_mm512_castsi512_si256(Y), _mm512_castsi512_si256(C), _mm512_extracti64x4_epi64(Y, 1),
                              _mm512_extracti64x4_epi64(C, 1)};
        __m256i word = V[pick[0]];
        word = _mm256_or_si256(word, _mm256_slli_epi32(V[pick[1]], 8));
        word = _mm256_or_si256(word, _mm256_slli_epi32(V[pick[2]], 16));
        word = _mm256_or_si256(word, _mm256_slli_epi32(V[pick[3]], 24));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), word);
    }
}

} // namespace

bool qiYccSimd512Available()
{
    static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
    return avx512;
}

void qiV210Blocks512(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, uint8_t *dst)
{
    using Fn = void (*)(const uint64_t *, int32_t, const QiYccSimdForm &, uint8_t *);
    static constexpr Fn kFns[2][2][2] = {
        {{v210Blocks<8, false, false>, v210Blocks<8, true, false>},
         {v210Blocks<10, false, false>, v210Blocks<10, true, false>}},
        {{v210Blocks<8, false, true>, v210Blocks<8, true, true>},
         {v210Blocks<10, false, true>, v210Blocks<10, true, true>}}};
    kFns[f.k != nullptr][f.bits == 10][f.overrides](src, blocks, f, dst);
}

void qiYcc8Blocks512(const uint64_t *src, int32_t blocks, const QiYccSimdForm &f, const int order[4], uint8_t *dst)
{
    using Fn = void (*)(const uint64_t *, int32_t, const QiYccSimdForm &, const int *, uint8_t *);
    static constexpr Fn kFns[2][2] = {{ycc8Blocks<8, false>, ycc8Blocks<8, true>},
                                      {ycc8Blocks<10, false>, ycc8Blocks<10, true>}};
    kFns[f.bits == 10][f.overrides](src, blocks, f, order, dst);
}

#else

bool qiYccSimd512Available() { return false; }
void qiV210Blocks512(const uint64_t *, int32_t, const QiYccSimdForm &, uint8_t *) {}
void qiYcc8Blocks512(const uint64_t *, int32_t, const QiYccSimdForm &, const int *, uint8_t *) {}

#endif
