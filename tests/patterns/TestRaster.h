#pragma once
// A raster at a chosen size and depth with card-like levels; output buffers
// are not modelled, render/present are counted. With keepFrames set, every
// encode keeps a copy of the frame buffer with its index and flag.
#include "../common/CountingRaster.h"

#include <vector>

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
    bool render(int32_t index, bool exact) override
    {
        CountingRaster::render(index, exact);
        lastIndex = index;
        lastExact = exact;
        if (keepFrames && data())
            frames.push_back({index, exact, bufferCount(),
                              std::vector<uint64_t>(data(), data() + static_cast<size_t>(width()) * height())});
        return true;
    }

    struct Encoded {
        int32_t index;
        bool exact;
        int32_t bufferCount;
        std::vector<uint64_t> pixels;
    };
    bool keepFrames = false;
    std::vector<Encoded> frames;
    int32_t lastIndex = -1;
    bool lastExact = false;
};
