#pragma once
// A raster at a chosen size and depth with card-like levels; output buffers
// are not modelled, render/present are counted.
#include "QiRaster.h"

class TestRaster : public QiRaster {
public:
    TestRaster(int32_t w, int32_t h, int32_t bits)
    {
        m_bits = bits;
        resize(w, h);
        m_blackLevel = 16 << (bits - 8);
        m_whiteLevel = 235 << (bits - 8);
    }
    bool render(int32_t, bool) override
    {
        ++renders;
        return true;
    }
    bool setBufferCount(int32_t n) override
    {
        m_bufferCount = n;
        m_currentBuffer = 0;
        return true;
    }
    bool outputBuffer(int32_t) override { return true; }
    std::string gatewareVersion() override { return "test"; }
    std::string serialNumber() override { return "0"; }
    void setLevels(int32_t k, int32_t w)
    {
        m_blackLevel = k;
        m_whiteLevel = w;
    }
    int renders = 0;
};
