#pragma once
// A raster at a chosen size and depth with card-like levels; output buffers
// are not modelled, render/present are counted.
#include "../common/CountingRaster.h"

class TestRaster : public CountingRaster {
public:
    TestRaster(int32_t w, int32_t h, int32_t bits)
    {
        m_bits = bits;
        resize(w, h);
        m_blackLevel = 16 << (bits - 8);
        m_whiteLevel = 235 << (bits - 8);
    }
    void setLevels(int32_t k, int32_t w)
    {
        m_blackLevel = k;
        m_whiteLevel = w;
    }
};
