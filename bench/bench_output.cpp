// Present cost of the card rasters on their simulated boards: render (the
// v210 packer) plus present (Kona: two DMA copies into card memory; DeckLink:
// staging copy into the device frame plus the board's copy to its output),
// against a plain copy of one output frame measured in the same run.
#include "BmdRaster.h"
#include "KonaRaster.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

struct Format {
    const char *kona;
    const char *deckLink;
    int32_t w, h;
};
const Format kFormats[2] = {{"1080p 25.00", "HD 1080p 25", 1920, 1080},
                            {"4x2048x1080p 25.00", "4K DCI 25", 4096, 2160}};

void fillNoise(QiRaster &raster)
{
    std::mt19937_64 rng(7);
    uint64_t *d = raster.data();
    for (size_t i = 0, n = static_cast<size_t>(raster.width()) * raster.height(); i < n; ++i)
        d[i] = rng() & 0x3FFFFFFF;
}

void BM_BoundCopy(benchmark::State &state)
{
    const Format &f = kFormats[state.range(0)];
    size_t bytes = static_cast<size_t>((f.w + 47) / 48 * 128) * f.h;
    std::vector<uint8_t> from(bytes, 0x5A), to(bytes, 1);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void BM_KonaPresent(benchmark::State &state)
{
    const Format &f = kFormats[state.range(0)];
    const bool render = state.range(1) != 0;
    SimBoards::selectKona();
    KonaRaster raster;
    if (!raster.init() || !raster.setRasterFormat(f.kona)) {
        state.SkipWithError("no Kona board");
        return;
    }
    fillNoise(raster);
    raster.render(0, false);
    raster.present(-1);
    for (auto _ : state) {
        if (render)
            raster.render(0, false);
        raster.present(-1);
    }
    SimBoards::selectNone();
}

void BM_DeckLinkPresent(benchmark::State &state)
{
    const Format &f = kFormats[state.range(0)];
    const bool render = state.range(1) != 0;
    SimBoards::selectDeckLink();
    BmdRaster raster;
    if (!raster.init() || !raster.setRasterFormat(f.deckLink)) {
        state.SkipWithError("no DeckLink board");
        return;
    }
    fillNoise(raster);
    raster.render(0, false);
    raster.present(-1);
    for (auto _ : state) {
        if (render)
            raster.render(0, false);
        raster.present(-1);
    }
    SimBoards::selectNone();
}

} // namespace

// Arguments: size (0 = 1920x1080, 1 = 4096x2160), render (0 = present only).
BENCHMARK(BM_BoundCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_KonaPresent)
    ->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_DeckLinkPresent)
    ->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_MAIN();
