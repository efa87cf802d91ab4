#pragma once
// A raster double that offers a second-eye buffer (no card does) and
// records which eyes the renderer reports as filled.
#include "TestRaster.h"

#include <vector>

class StereoRaster : public TestRaster {
public:
    StereoRaster(int32_t w, int32_t h, int32_t bits) : TestRaster(w, h, bits), second(w, h, bits) {}
    QiImage *secondEyeBuffer() override { return &second; }
    void setEyeFilled(int32_t eye) override { filled.push_back(eye); }

    QiImage second;
    std::vector<int32_t> filled;
};
