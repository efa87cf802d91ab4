#pragma once
#include "QiOptRGB.h"
#include "QiRaster.h"

#include <cstdint>

// p percent of the raster's black-to-white range: K + (W - K) * p / 100, the
// product first, the quotient truncated toward zero.
inline int32_t ovPercent(const QiRaster &r, int32_t p)
{
    const int64_t k = r.blackLevel(), w = r.whiteLevel();
    return static_cast<int32_t>(k + (w - k) * p / 100);
}

// A fixed 8-bit code value at the raster's depth.
inline uint32_t ovFixed8(const QiRaster &r, uint32_t v) { return v << (r.bits() - 8); }
// A fixed 10-bit code value at the raster's depth (the low bits dropped on
// a shallower raster).
inline uint32_t ovFixed10(const QiRaster &r, int32_t v)
{
    const int bits = r.bits();
    const auto u = static_cast<uint32_t>(v);
    return bits >= 10 ? u << (bits - 10) : u >> (10 - bits);
}

// Colours are packed by shift and OR, without masking: a component beyond
// the depth spills into its neighbour, as the clients who send it expect.
inline uint64_t ovGrey(const QiRaster &r, uint32_t level) { return r.pack(level, level, level); }
inline uint64_t ovPackFixed8(const QiRaster &r, uint32_t red, uint32_t green, uint32_t blue)
{
    return r.pack(ovFixed8(r, red), ovFixed8(r, green), ovFixed8(r, blue));
}
inline uint64_t ovGreyPercent(const QiRaster &r, int32_t p)
{
    return ovGrey(r, static_cast<uint32_t>(ovPercent(r, p)));
}
// An RGB option read from the request (each absent key takes its default).
inline uint64_t ovReadColour(const QiRaster &r, const QiOptRGB &opt, const QiParams &params)
{
    uint32_t red, green, blue;
    opt.read(params, red, green, blue);
    return r.pack(red, green, blue);
}
