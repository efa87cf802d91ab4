#pragma once
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
