#pragma once
// A raster double for engine tests: three formats, counts every call.
#include "../common/CountingRaster.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class FakeRaster : public CountingRaster {
public:
    FakeRaster() : CountingRaster("fake-1", "0")
    {
        m_blackLevel = 64;
        m_whiteLevel = 940;
    }
    bool outputBuffer(int32_t index) override
    {
        std::lock_guard<std::mutex> g(lock);
        outputIndices.push_back(index);
        return true;
    }

    bool getFormatList(std::vector<std::string> &names, int32_t &def) override
    {
        names = formats;
        def = 1;
        return true;
    }
    std::string currentFormat() override { return device; }
    bool setRasterFormat(const std::string &name) override
    {
        ++formatCalls;
        for (const std::string &f : formats) {
            if (f == name) {
                device = name;
                m_colourEncoding = name == "SD" ? 0 : 2;
                return true;
            }
        }
        return false;
    }
    bool setOutputPixelFormat(int32_t i) override
    {
        lastPixelFormat = i;
        return QiRaster::setOutputPixelFormat(i);
    }
    // With gate closed, the render thread stops here (start of every request).
    bool rerenderP() override
    {
        std::unique_lock<std::mutex> g(lock);
        gateCond.wait(g, [this] { return !gateClosed; });
        return rerender.exchange(false);
    }
    void closeGate()
    {
        std::lock_guard<std::mutex> g(lock);
        gateClosed = true;
    }
    void openGate()
    {
        std::lock_guard<std::mutex> g(lock);
        gateClosed = false;
        gateCond.notify_all();
    }

    size_t outputCount()
    {
        std::lock_guard<std::mutex> g(lock);
        return outputIndices.size();
    }

    std::vector<std::string> formats{"SD", "HD", "UHD"};
    std::string device = "HD";
    std::atomic<int> formatCalls{0};
    std::atomic<bool> rerender{false};
    int32_t lastPixelFormat = -1;
    std::mutex lock;
    std::condition_variable gateCond;
    bool gateClosed = false;
    std::vector<int32_t> outputIndices;
};
