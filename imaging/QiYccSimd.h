#pragma once
#include <cstdint>

// Vector kernels for the matrix path of the two 4:2:2 encoders, on images of
// 8 or 10 bits per component. The output is byte-identical to the scalar
// definition: each group of pairs is estimated in 32-bit fixed point, and
// a group holding a sum within the estimate's error of a truncation step is
// recomputed with the defined double-precision arithmetic, operation for
// operation (same products, same order of additions, +0.5, truncation).
//
// They cover whole blocks inside a row; the caller encodes what is left of
// the row (and the repeated last pixel) the ordinary way.
struct QiYccFixed;
struct QiYccSimdForm {
    const double *m = nullptr; // a b c | d e f | g h i
    // The formula path of v210 (10-bit output only): Kr Kg Kb sB sR; null
    // for the matrix path.
    const double *k = nullptr;
    int32_t bits = 10;         // image depth: 8 or 10
    int32_t outBits = 10;      // 8 (YCbCr8) or 10 (v210)
    uint32_t keep[3] = {~0u, ~0u, ~0u};
    uint32_t konst[3] = {0, 0, 0};
    bool overrides = false;
    // qiYccFixed of this form, worked out once per frame by the caller
    // (null: each call works it out).
    const QiYccFixed *fixed = nullptr;
};

// The fast estimate: the weights in 32-bit fixed point with `frac`
// fraction bits, and the margin (in units of 2^-frac) within which a sum
// may lie on the wrong side of a truncation step. Sums that close are
// computed in double precision instead. The fraction keeps every sum below
// 2^31 in magnitude (matrix luma at most 1007.5 units at 10 bits, chroma
// about 524; 239.5 and 131 at 8 bits; formula codes before their clamp from
// about -11 to 1036).
constexpr int qiYccFixedFraction(int outBits, bool formula = false)
{
    return formula ? 20 : outBits == 10 ? 21 : 23;
}
struct QiYccFixed {
    int frac = 21;
    int32_t y[3] = {}, cb[3] = {}, cr[3] = {};
    int32_t margin = 0;
    // What the path does around the sums: centre subtracted from each
    // component; fixed-point offsets of luma and chroma sums; after
    // truncation, addY / addC added and the result clamped to lo..hi.
    int32_t centre = 16, offY = 0, offC = 0, addY = 16, addC = 512, lo = 0, hi = 1023;
    // The offsets to use on components with the centre not subtracted
    // (the weights times the centre taken off, in 32-bit wrapping
    // arithmetic like the sums themselves).
    int32_t rawOffY = 0, rawOffCb = 0, rawOffCr = 0;
};
// frac: the fraction bits to use; negative for qiYccFixedFraction's.
QiYccFixed qiYccFixed(const QiYccSimdForm &form, int frac = -1);

// Kernel levels: 0 none, 1 256-bit (AVX2), 2 512-bit (AVX-512F).
// qiYccSimdLevel is the best the processor runs, lowered by
// qiYccSimdLimit (tests compare the levels with each other).
int qiYccSimdLevel();
void qiYccSimdLimit(int level);

// Pixels per block at the current level (0 at level 0). A v210 block is a
// whole number of six-pixel groups; a YCbCr8 block a whole number of pairs.
int32_t qiV210BlockPixels();
int32_t qiYcc8BlockPixels();

// v210 words of `blocks` blocks starting at src (16 bytes per six pixels).
void qiV210Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &form, uint8_t *dst);

// 8-bit 4:2:2 of `blocks` blocks; each pair's four bytes are
// (V[order[1]], V[order[0]], V[order[3]], V[order[2]]) with V = (Y0, Cb, Y1, Cr).
void qiYcc8Blocks(const uint64_t *src, int32_t blocks, const QiYccSimdForm &form, const int order[4],
                  uint8_t *dst);

// The 512-bit kernels (48 and 16 pixels per block), for the dispatch above.
bool qiYccSimd512Available();
void qiV210Blocks512(const uint64_t *src, int32_t blocks, const QiYccSimdForm &form, uint8_t *dst);
void qiYcc8Blocks512(const uint64_t *src, int32_t blocks, const QiYccSimdForm &form, const int order[4],
                     uint8_t *dst);
