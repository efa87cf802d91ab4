// Caption drawing and image-file decoding at frame sizes.
#include "QiFont.h"
#include "QiImage.h"
#include "QiImageFiles.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Fonts come from the data folder beside the executable, as for the program.
std::string fontPath(const char *name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "ovdata" / "datafiles" / name).string();
}

void drawTitle(benchmark::State &state)
{
    const int height = static_cast<int>(state.range(0));
    const int width = height == 2160 ? 4096 : 1920;
    QiImage image(width, height, 10);
    image.fill(image.pack(512, 300, 700));
    QiFont font(fontPath("eterna.ttf"), 24, height * 144 / 1080);
    int32_t w = 0, h = 0;
    for (auto _ : state) {
        drawText(image, font, "Colorbars", image.pack(940, 940, 940), width * 5 / 100, height * 40 / 1080, w, h);
        drawText(image, font, "1080p 59.94", image.pack(940, 940, 940), width * 5 / 100, height * 40 / 1080 + h, w,
                 h);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(drawTitle)->Arg(1080)->Arg(2160)->Unit(benchmark::kMicrosecond);

void drawTitleFreshFont(benchmark::State &state)
{
    QiImage image(1920, 1080, 10);
    int32_t w = 0, h = 0;
    for (auto _ : state) {
        QiFont font(fontPath("eterna.ttf"), 24, 144);
        drawText(image, font, "Colorbars", image.pack(940, 940, 940), 96, 40, w, h);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(drawTitleFreshFont)->Unit(benchmark::kMicrosecond);

void largeDisplayText(benchmark::State &state)
{
    QiImage image(1920, 1080, 10);
    QiFont font(fontPath("plexifont_ot.otf"), 72, 144);
    int32_t w = 0, h = 0;
    for (auto _ : state) {
        drawText(image, font, "Sharpness", 0, 960, 615, w, h, true, 4);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(largeDisplayText)->Unit(benchmark::kMicrosecond);

std::vector<uint8_t> frameFile(bool png)
{
    QiImage image(1920, 1080, 8);
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x)
            image.setPixelRgb(x, y, x & 255, y & 255, (x ^ y) & 255);
    std::string path = "/tmp/bench_QiFont_" + std::to_string(getpid()) + (png ? ".png" : ".ovi");
    png ? image.savePng(path.c_str()) : image.saveOvi(path.c_str());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    return bytes;
}

void decodeFrame(benchmark::State &state)
{
    const bool png = state.range(0) != 0;
    std::vector<uint8_t> bytes = frameFile(png);
    for (auto _ : state) {
        auto image = loadImageFromMemory(bytes.data(), bytes.size(), 10, nullptr);
        benchmark::DoNotOptimize(image.get());
    }
    state.SetLabel(png ? "png 1920x1080" : "ovi 1920x1080");
}
BENCHMARK(decodeFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
