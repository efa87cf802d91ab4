// Engine costs: one post (map copy + queue append) and the time from post to
// the start of render on the render thread.
#include "OvCore.h"
#include "QiLog.h"
#include "QiRaster.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class NullRaster : public QiRaster {
public:
    bool render(int32_t, bool) override { return true; }
    bool setBufferCount(int32_t n) override
    {
        m_bufferCount = n;
        return true;
    }
    bool outputBuffer(int32_t) override { return true; }
    std::string gatewareVersion() override { return "0"; }
    std::string serialNumber() override { return "0"; }
};

class QuietOutput : public QiOutput {
public:
    QuietOutput() : QiOutput(-1) {}
    bool write(const char *, size_t) override { return true; }
};

std::atomic<int64_t> g_renderStart{0};

class Stamp : public OvPatternRenderer {
public:
    Stamp() : OvPatternRenderer(nullptr, "0") {}
    const char *name() const override { return "Stamp"; }
    bool render(OvCore *, QiRaster *, const QiParams &) override
    {
        g_renderStart = std::chrono::steady_clock::now().time_since_epoch().count();
        return true;
    }
};

OvPatternRenderer *makeStamp() { return new Stamp; }

QiParams typicalRequest()
{
    QiParams p;
    p.set("Pattern", "Stamp");
    p.set("Size", "10");
    p.set("Color_Red", "940");
    p.set("Color_Green", "940");
    p.set("Color_Blue", "940");
    p.set("VideoFormat", "default");
    return p;
}

void BM_Post(benchmark::State &state)
{
    auto old = swapLogOutput(std::make_unique<QuietOutput>());
    NullRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeStamp});
    QiParams p = typicalRequest();
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(core.post(p));
        // Let the render thread drain so the queue stays short.
        if (++n % 256 == 0) {
            state.PauseTiming();
            int32_t id = core.postPattern("Stamp");
            bool r;
            core.waitTransaction(id, r);
            state.ResumeTiming();
        }
    }
    core.shutdown();
    swapLogOutput(std::move(old));
}
BENCHMARK(BM_Post);

void BM_PostToRenderStart(benchmark::State &state)
{
    auto old = swapLogOutput(std::make_unique<QuietOutput>());
    NullRaster raster;
    OvCore core;
    core.start(&raster, nullptr, {makeStamp});
    QiParams p = typicalRequest();
    for (auto _ : state) {
        g_renderStart = 0;
        auto t0 = std::chrono::steady_clock::now().time_since_epoch().count();
        core.post(p);
        while (g_renderStart.load() == 0)
            ;
        state.SetIterationTime(static_cast<double>(g_renderStart.load() - t0) * 1e-9);
        // Wait for the request to finish before the next one.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    core.shutdown();
    swapLogOutput(std::move(old));
}
BENCHMARK(BM_PostToRenderStart)->UseManualTime()->Iterations(2000)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
