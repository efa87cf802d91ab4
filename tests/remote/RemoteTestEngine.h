#pragma once
// A real engine on a raster double with one small renderer, for the remote
// method tests and the test server program.
#include "OvCore.h"
#include "QiOptDouble.h"
#include "QiOptInt.h"
#include "../common/CountingRaster.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace remotetest {

class TestRaster : public CountingRaster {
public:
    TestRaster() : CountingRaster("gw-7.1", "SN0")
    {
        m_blackLevel = 64;
        m_whiteLevel = 940;
    }
    bool readEdid(std::vector<uint8_t> &edid) override
    {
        ++edidReads;
        if (!haveEdid.load())
            return false;
        edid = {4, 3, 2, 1};
        return true;
    }
    bool rescanFormats() override
    {
        ++rescans;
        return true;
    }
    // With the gate closed the render thread stops at the start of the
    // next request (every request asks rerenderP first).
    bool rerenderP() override
    {
        std::unique_lock<std::mutex> g(gateLock);
        gateWaiting = true;
        gateCond.notify_all();
        gateCond.wait(g, [this] { return !gateClosed; });
        gateWaiting = false;
        return false;
    }
    void closeGate()
    {
        std::lock_guard<std::mutex> g(gateLock);
        gateClosed = true;
    }
    void openGate()
    {
        std::lock_guard<std::mutex> g(gateLock);
        gateClosed = false;
        gateCond.notify_all();
    }
    // Waits until the render thread stands at the closed gate.
    void waitAtGate()
    {
        std::unique_lock<std::mutex> g(gateLock);
        gateCond.wait(g, [this] { return gateWaiting; });
    }

    std::atomic<int> edidReads{0}, rescans{0};
    std::atomic<bool> haveEdid{true};
    std::mutex gateLock;
    std::condition_variable gateCond;
    bool gateClosed = false, gateWaiting = false;
};

inline QiOptInt g_steps("Steps", "Number of steps", 4, 1, 64);
inline QiOptDouble g_level("Level", "Level in percent", 50.0, 0.0, 100.0);
inline const QiOption *const g_testBarsOptions[] = {&g_steps, &g_level, nullptr};

// Records the parameter maps it is asked to draw.
class TestBars : public OvPatternRenderer {
public:
    TestBars() : OvPatternRenderer(g_testBarsOptions, "$Revision: 1.14 $") {}
    const char *name() const override { return "TestBars"; }
    bool render(OvCore *, QiRaster *raster, const QiParams &params) override
    {
        {
            std::lock_guard<std::mutex> g(lock);
            seen.push_back(params);
        }
        raster->render(0, false);
        return true;
    }
    QiParams last()
    {
        std::lock_guard<std::mutex> g(lock);
        return seen.empty() ? QiParams() : seen.back();
    }
    std::mutex lock;
    std::vector<QiParams> seen;
};

class Plain : public OvPatternRenderer {
public:
    Plain() : OvPatternRenderer(nullptr, "$Revision: 2.0 $") {}
    const char *name() const override { return "Plain"; }
    bool render(OvCore *, QiRaster *raster, const QiParams &) override { return raster->render(0, false); }
};

inline TestBars *g_testBars = nullptr;
inline OvPatternRenderer *makeTestBars() { return g_testBars = new TestBars; }
inline OvPatternRenderer *makePlain() { return new Plain; }

// An engine running on a TestRaster with TestBars and Plain registered.
struct TestEngine {
    TestRaster raster;
    OvCore core;
    TestEngine() { core.start(&raster, nullptr, {makeTestBars, makePlain}); }
    ~TestEngine() { core.shutdown(); }
};

} // namespace remotetest
