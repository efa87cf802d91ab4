#pragma once
// What every raster double in the tests shares: renders counted, the buffer
// count kept (so presents cycle), and a card's identity strings.
#include "QiRaster.h"

#include <atomic>
#include <string>
#include <utility>

class CountingRaster : public QiRaster {
public:
    explicit CountingRaster(std::string gateware = "test", std::string serial = "0")
        : m_gateware(std::move(gateware)), m_serial(std::move(serial))
    {
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
    bool outputBuffer(int32_t) override
    {
        ++outputs;
        return true;
    }
    std::string gatewareVersion() override { return m_gateware; }
    std::string serialNumber() override { return m_serial; }

    std::atomic<int> renders{0}, outputs{0};

private:
    std::string m_gateware, m_serial;
};
