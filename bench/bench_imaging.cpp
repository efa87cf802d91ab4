// Image fill and encoder speed against the memory-bandwidth bounds measured
// in the same run. Closing table: median of each and its ratio to the bound
// that limits it (store for fill; read image + write output for encoders).
#include "QiImage.h"
#include "QiImageCoder.h"
#include "QiWorkerPool.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Size {
    int32_t w, h;
};
const Size kSizes[2] = {{1920, 1080}, {4096, 2160}};
const uint64_t kFillWord = 0x0EA3A93A9ull; // non-zero: zero stores run faster than any other value

// Frame-sized blocks allocated once and touched, so page faults stay out of
// the measurements.
struct Frames {
    std::unique_ptr<QiImage> image[2];
    std::vector<uint8_t> out[2];
    std::vector<uint64_t> copy[2];
    Frames()
    {
        for (int s = 0; s < 2; ++s) {
            image[s] = std::make_unique<QiImage>(kSizes[s].w, kSizes[s].h, 10);
            std::mt19937_64 rng(s + 1);
            uint64_t *d = image[s]->data();
            for (size_t i = 0; i < static_cast<size_t>(kSizes[s].w) * kSizes[s].h; ++i)
                d[i] = rng() & 0x3FFFFFFF;
            out[s].assign(static_cast<size_t>(kSizes[s].w) * kSizes[s].h * 4, 1);
            copy[s].assign(static_cast<size_t>(kSizes[s].w) * kSizes[s].h, 1);
        }
    }
};

Frames &frames()
{
    static Frames f;
    return f;
}

// Rows on the shared pool (threads = 2) or on the caller alone.
template <class F>
void rows(int32_t height, bool threaded, F fn)
{
    if (!threaded) {
        fn(0, height);
        return;
    }
    QiWorkerPool::shared().run(height, 16, fn);
}

void BM_BoundStore(benchmark::State &state, int s, int threads)
{
    const bool threaded = threads == 2;
    Frames &f = frames();
    uint64_t *d = f.copy[s].data();
    const size_t w = static_cast<size_t>(kSizes[s].w);
    for (auto _ : state) {
        rows(kSizes[s].h, threaded, [&](int32_t b, int32_t e) {
            uint64_t *p = d + b * w;
            for (size_t i = 0, n = (e - b) * w; i < n; ++i)
                p[i] = kFillWord;
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(w * kSizes[s].h * 8));
}

void BM_BoundCopy(benchmark::State &state, int s, int threads)
{
    const bool threaded = threads == 2;
    Frames &f = frames();
    const uint64_t *src = f.image[s]->data();
    uint64_t *d = f.copy[s].data();
    const size_t w = static_cast<size_t>(kSizes[s].w);
    for (auto _ : state) {
        rows(kSizes[s].h, threaded, [&](int32_t b, int32_t e) {
            std::memcpy(d + b * w, src + b * w, (e - b) * w * 8);
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(w * kSizes[s].h * 16));
}

// Reads the image and writes outBytes per six pixels: the traffic of a
// packer with no arithmetic (16 = v210, 12 = 2 bytes per pixel).
void BM_BoundReadWrite(benchmark::State &state, int s, int threads, int outBytes)
{
    const bool threaded = threads == 2;
    const int outWords = outBytes / 4; // 32-bit words per 6 pixels
    Frames &f = frames();
    const uint64_t *src = f.image[s]->data();
    uint8_t *out = f.out[s].data();
    const size_t w = static_cast<size_t>(kSizes[s].w);
    const size_t rowOut = (w / 6) * outWords * 4;
    for (auto _ : state) {
        rows(kSizes[s].h, threaded, [&](int32_t b, int32_t e) {
            for (int32_t y = b; y < e; ++y) {
                const uint64_t *p = src + y * w;
                uint32_t *o = reinterpret_cast<uint32_t *>(out + y * rowOut);
                for (size_t g = 0; g < w / 6; ++g) {
                    const uint64_t *q = p + 6 * g;
                    uint32_t a = static_cast<uint32_t>(q[0] ^ q[1]), c = static_cast<uint32_t>(q[2] ^ q[3]),
                             d = static_cast<uint32_t>(q[4] ^ q[5]);
                    o[outWords * g] = a;
                    o[outWords * g + 1] = c;
                    o[outWords * g + 2] = d;
                    if (outWords == 4)
                        o[outWords * g + 3] = a ^ d;
                }
            }
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(w * kSizes[s].h * 8 + rowOut * kSizes[s].h));
}

void BM_Fill(benchmark::State &state, int s)
{
    QiImage &img = *frames().image[s];
    for (auto _ : state) {
        img.fill(kFillWord);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(img.width()) * img.height() * 8);
    // Leave noise behind for the encoders.
    std::mt19937_64 rng(s + 1);
    for (size_t i = 0; i < static_cast<size_t>(img.width()) * img.height(); ++i)
        img.data()[i] = rng() & 0x3FFFFFFF;
}

// A 72-sector star (plain and smooth) over the whole frame, on a copy so the
// encoders keep their noise.
void BM_SectorFill(benchmark::State &state, int s, bool smooth)
{
    QiImage img(kSizes[s].w, kSizes[s].h, 10);
    const uint64_t pal[2] = {64 | (64 << 10) | (64ull << 20), 940 | (940 << 10) | (940ull << 20)};
    for (auto _ : state) {
        img.sectorFill(pal, 2, 72, kSizes[s].w / 2, kSizes[s].h / 2, smooth);
        benchmark::ClobberMemory();
    }
}

// The zone plate (scale 235) over the whole frame.
void BM_RadialFill(benchmark::State &state, int s)
{
    QiImage img(kSizes[s].w, kSizes[s].h, 10);
    const uint64_t from = 64 | (64 << 10) | (64ull << 20), to = 940 | (940 << 10) | (940ull << 20);
    for (auto _ : state) {
        img.radialFill(from, to, 235, kSizes[s].w / 2, kSizes[s].h / 2);
        benchmark::ClobberMemory();
    }
}

enum Enc { kRgb32, kRgb24, kDpx, kR210, kUyvy, kV210, kV210Exact };

void BM_Encode(benchmark::State &state, int s, int enc, int threads)
{
    const Enc e = static_cast<Enc>(enc);
    Frames &f = frames();
    QiImageCoder coder(f.image[s].get());
    coder.setThreaded(threads == 2);
    uint8_t *out = f.out[s].data();
    const int uyvy[4] = {0, 1, 2, 3};
    for (auto _ : state) {
        switch (e) {
        case kRgb32: coder.encodeRgb32(out, 2, 1, 0, 3); break;
        case kRgb24: coder.encodeRgb24(out, 0, 1, 2); break;
        case kDpx: coder.encodeRgb10(out, 0, 2, true); break;
        case kR210: coder.encodeRgb10(out, 2, 0, false, (kSizes[s].w + 63) / 64 * 256); break;
        case kUyvy: coder.encodeYCbCr8(out, uyvy, 2); break;
        case kV210: coder.encodeV210(out, false, 2); break;
        case kV210Exact: coder.encodeV210(out, true, 2); break;
        }
        benchmark::ClobberMemory();
    }
}

const char *kEncNames[] = {"rgb32", "rgb24", "dpx10", "r210", "uyvy", "v210", "v210exact"};

void registerAll()
{
    for (int s = 0; s < 2; ++s) {
        const std::string sz = std::to_string(kSizes[s].w) + "x" + std::to_string(kSizes[s].h);
        for (int t : {1, 2}) {
            const std::string th = "/threads:" + std::to_string(t);
            benchmark::RegisterBenchmark(("bound_store/" + sz + th).c_str(), BM_BoundStore, s, t)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("bound_copy/" + sz + th).c_str(), BM_BoundCopy, s, t)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("bound_read_write_v210/" + sz + th).c_str(), BM_BoundReadWrite, s, t, 16)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("bound_read_write_2bpp/" + sz + th).c_str(), BM_BoundReadWrite, s, t, 12)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
        benchmark::RegisterBenchmark(("fill/" + sz).c_str(), BM_Fill, s)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("sector_fill/" + sz).c_str(), BM_SectorFill, s, false)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("sector_fill_smooth/" + sz).c_str(), BM_SectorFill, s, true)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("radial_fill/" + sz).c_str(), BM_RadialFill, s)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        for (int e = kRgb32; e <= kV210Exact; ++e)
            for (int t : {1, 2})
                benchmark::RegisterBenchmark(
                    ("encode_" + std::string(kEncNames[e]) + "/" + sz + "/threads:" + std::to_string(t)).c_str(),
                    BM_Encode, s, e, t)
                    ->Unit(benchmark::kMillisecond)->UseRealTime();
    }
}

// Keeps each benchmark's median (or its single run) for the closing table.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate) {
                if (r.aggregate_name != "median")
                    continue;
            } else if (ms.count(name)) {
                continue; // repetitions: the median aggregate will follow
            }
            if (name.size() > 10 && name.compare(name.size() - 10, 10, "/real_time") == 0)
                name.resize(name.size() - 10);
            ms[name] = r.GetAdjustedRealTime(); // every benchmark here reports milliseconds
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    frames();
    registerAll();
    benchmark::Initialize(&argc, argv);
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto get = [&](const std::string &n) { return rep.ms.count(n) ? rep.ms[n] : 0.0; };
    std::printf("\n%-34s %10s %10s %8s\n", "median (ms)", "time", "bound", "ratio");
    for (int s = 0; s < 2; ++s) {
        const std::string sz = std::to_string(kSizes[s].w) + "x" + std::to_string(kSizes[s].h);
        auto line = [&](const std::string &name, const std::string &bound) {
            double t = get(name), b = get(bound);
            if (t > 0 && b > 0)
                std::printf("%-34s %10.3f %10.3f %8.2f  (%s)\n", name.c_str(), t, b, t / b, bound.c_str());
        };
        line("fill/" + sz, "bound_store/" + sz + "/threads:2");
        for (const char *f : {"sector_fill/", "sector_fill_smooth/", "radial_fill/"})
            line(f + sz, "bound_store/" + sz + "/threads:2");
        for (int e = kRgb32; e <= kV210Exact; ++e)
            for (int t : {1, 2}) {
                const std::string th = "/threads:" + std::to_string(t);
                // Output bytes per pixel decide which bound applies.
                std::string bound = e == kV210 || e == kV210Exact ? "bound_read_write_v210/"
                                    : e == kUyvy                  ? "bound_read_write_2bpp/"
                                                                  : "bound_copy/";
                line("encode_" + std::string(kEncNames[e]) + "/" + sz + th, bound + sz + th);
            }
    }
    benchmark::Shutdown();
    return 0;
}
