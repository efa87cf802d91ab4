// Colour bars: draw + encode per card pixel format at 1920x1080 and
// 4096x2160 on the simulated Kona board, the presentation, and the whole
// post-to-present path through the engine. A store-bandwidth run gives the
// bound the draw is compared with.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "OvpColorbars.h"
#include "QiImageFiles.h"
#include "QiLog.h"
#include "SimBoards.h"
#include "SimKonaBoard.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

class QuietOutput : public QiOutput {
public:
    QuietOutput() : QiOutput(-1) {}
    bool write(const char *, size_t) override { return true; }
};

struct Quiet {
    std::unique_ptr<QiOutput> old = swapLogOutput(std::make_unique<QuietOutput>());
    ~Quiet() { swapLogOutput(std::move(old)); }
};

// NTV2 video formats: 25 = 1080p 60 (1920x1080), 91 = 4x2048x1080p 25 (4096x2160).
std::unique_ptr<KonaRaster> konaAt(uint32_t videoFormat, uint32_t fbf)
{
    SimBoards::selectKona();
    SimKonaBoard &b = SimKonaBoard::instance();
    b.setVideoFormat(videoFormat);
    for (uint32_t ch = 0; ch < SimKonaBoard::kChannels; ++ch)
        b.setFrameBufferFormat(ch, fbf);
    auto r = std::make_unique<KonaRaster>();
    r->init();
    return r;
}

// The data folder beside the program (fonts, ImageFiles with the test card).
std::string dataFolder()
{
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string path = n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string("./x");
    return path.substr(0, path.rfind('/')) + "/ovdata";
}

const char *fbfName(int64_t fbf)
{
    switch (fbf) {
    case 0: return "v210";
    case 1: return "uyvy";
    case 2: return "bgra";
    case 7: return "dpx10";
    case 12: return "rgb24";
    default: return "?";
    }
}

void BM_StoreBandwidth(benchmark::State &state)
{
    const size_t words = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1));
    std::vector<uint64_t> buf(words, 1);
    for (auto _ : state) {
        std::fill(buf.begin(), buf.end(), 0x0123456789ull);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * words * 8));
}

// Draw + encode: what the render thread spends in Colorbars::render.
void BM_ColorbarsRender(benchmark::State &state)
{
    Quiet quiet;
    auto raster = konaAt(state.range(0) == 1920 ? 25 : 91, static_cast<uint32_t>(state.range(1)));
    OvCore core;
    core.start(raster.get(), nullptr, {});
    OvpColorbars bars;
    QiParams p;
    p.set("Pattern", "Colorbars");
    // Once untimed: the frame memory faulted in (both host frames).
    bars.render(&core, raster.get(), p);
    bars.render(&core, raster.get(), p);
    for (auto _ : state)
        bars.render(&core, raster.get(), p);
    state.SetLabel(fbfName(state.range(1)));
    core.shutdown();
}

void BM_ColorbarsPresent(benchmark::State &state)
{
    Quiet quiet;
    auto raster = konaAt(state.range(0) == 1920 ? 25 : 91, static_cast<uint32_t>(state.range(1)));
    raster->setBufferCount(1);
    raster->render(0, false);
    for (auto _ : state)
        raster->present(-1);
    state.SetLabel(fbfName(state.range(1)));
}

// post -> waitTransaction returns: option application, draw, encode, present.
void BM_ColorbarsPostToPresent(benchmark::State &state)
{
    Quiet quiet;
    auto raster = konaAt(state.range(0) == 1920 ? 25 : 91, static_cast<uint32_t>(state.range(1)));
    OvCore core;
    core.start(raster.get(), nullptr, ovBuiltinRenderers());
    auto post = [&] {
        int32_t id = core.postPattern("Colorbars");
        bool r;
        core.waitTransaction(id, r);
    };
    // Untimed: the frame memory faulted in.
    post();
    post();
    for (auto _ : state)
        post();
    state.SetLabel(fbfName(state.range(1)));
    core.shutdown();
}

// FFmpeg's smptehdbars source converted to 10-bit 4:2:2 and encoded to v210
// at the same size, per frame, for the post-to-present case to be compared
// with. Each iteration runs the same command twice, with few and with many
// frames, and takes the difference: process start, filter-graph set-up and
// the first frame drop out, leaving what each further frame costs (the
// conversion and the encode; the source draws its picture once). Skipped
// where ffmpeg is not installed.
const char *const kFfmpeg = "/usr/bin/ffmpeg";

double ffmpegSeconds(int64_t width, int64_t height, int frames)
{
    const std::string source =
        "smptehdbars=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=60";
    const std::string count = std::to_string(frames);
    const char *argv[] = {kFfmpeg, "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                          source.c_str(), "-frames:v", count.c_str(), "-pix_fmt", "yuv422p10le", "-c:v", "v210",
                          "-f", "null", "-", nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = -1;
    const bool ran = posix_spawn(&pid, kFfmpeg, &files, nullptr, const_cast<char *const *>(argv), environ) == 0 &&
                     waitpid(pid, &status, 0) == pid;
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&files);
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double>(end - start).count();
}

void BM_FfmpegSmpteHdBarsV210(benchmark::State &state)
{
    if (access(kFfmpeg, X_OK) != 0) {
        state.SkipWithError("ffmpeg is not installed");
        return;
    }
    const int64_t width = state.range(0), height = width == 1920 ? 1080 : 2160;
    const int few = 4, many = width == 1920 ? 124 : 44;
    for (auto _ : state) {
        const double a = ffmpegSeconds(width, height, few), b = ffmpegSeconds(width, height, many);
        if (a < 0 || b < 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        state.SetIterationTime(std::max(b - a, 0.0) / (many - few));
    }
}
BENCHMARK(BM_FfmpegSmpteHdBarsV210)->Arg(1920)->Arg(4096)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// A still pattern and a two-frame one in turn, as a user switching between
// them: the output buffers are prepared for one frame, then two, each time.
void BM_SwitchStillAndTwoFrames(benchmark::State &state)
{
    Quiet quiet;
    auto raster = konaAt(state.range(0) == 1920 ? 25 : 91, 0);
    OvCore core;
    core.start(raster.get(), nullptr, ovBuiltinRenderers());
    QiParams still, blinking;
    still.set("Pattern", "Colorbars");
    blinking.set("Pattern", "Brightness");
    blinking.set("Style", "Blinking");
    OvPatternRenderer *a = core.resolvePattern("Colorbars", still);
    OvPatternRenderer *b = core.resolvePattern("Brightness", blinking);
    if (!a || !b) {
        state.SkipWithError("no such pattern");
        core.shutdown();
        return;
    }
    a->render(&core, raster.get(), still);
    b->render(&core, raster.get(), blinking);
    for (auto _ : state) {
        a->render(&core, raster.get(), still);
        b->render(&core, raster.get(), blinking);
    }
    core.shutdown();
}
BENCHMARK(BM_SwitchStillAndTwoFrames)->Arg(1920)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void sizes(benchmark::internal::Benchmark *b)
{
    for (int64_t w : {1920, 4096})
        for (int64_t fbf : {0, 1, 2, 7, 12})
            b->Args({w, fbf});
}

BENCHMARK(BM_StoreBandwidth)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorbarsRender)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorbarsPresent)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorbarsPostToPresent)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Draw + encode to v210 of one request, as the render thread runs it: every
// built-in pattern with its defaults, and the styles and aliases below.
struct BenchRequest {
    const char *pattern;
    const char *options; // "Key=Value;Key=Value" or ""
};
const BenchRequest kRequests[] = {
    {"Colorbars", "Style=fullfield"},
    // The calibration programs' full-field patch, 10-bit values.
    {"Patch", "x=0;y=0;cx=1;cy=1;Bits=10;Color_Red=940;Color_Green=512;Color_Blue=64"},
    {"SMPTEBars", ""},
    {"Chromaticity", "Style=constrained"},
    {"Chromaticity", "Style=full"},
    {"Chromaticity", "RgbSpace=Custom;Whitepoint=D50"},
    // The card prepared for the output height (2160 lines at 4096 wide),
    // decoded once and then copied in on video black.
    {"Nimbra-Test-Card", ""},
    {"Raster", ""},
    {"Sharpness", "Style=multiburst"},
    {"VerticalBar", "style=wrgbcmyk"},
    {"VerticalBar", "width=1"},
    {"Checkerboard", "hPatch=5000;vPatch=5000"},
    {"Geometry", "hLines=480;vLines=480"},
    {"Resolution", "Style=HLines"},
    {"Resolution", "Style=Pixels"},
    {"Gradient", "Style=RGBCMYK"},
    {"Gradient", "Style=RGBCMYK_lo;Orientation=Horizontal"},
    {"Gradient", "Style=RGBCMYK_hi"},
    {"Gradient", "Steps=0;Gamma=2.2;Splits=540;Orientation=Horizontal"},
    {"Ramp", ""},
    {"HRamp", ""},
    {"VRamp", ""},
    {"HStair11", ""},
    {"VStair11", ""},
    {"VStair21", ""},
    {"HStair21", ""},
    {"DynamicRange", ""},
    {"Window", "Style=Constant APL"},
    {"Window", "Size=16;loPluge=true;hiPluge=true;gridLines=true;hDiv=480;vDiv=480"},
    {"Window16.30", ""},
    {"Window16.80", ""},
    {"Brightness", "Style=Blinking"},
    {"Brightness", "Style=Testing"},
    {"Tint", ""},
    {"Sine", "Orientation=Horizontal"},
    {"ZonePlate", "Scale=235"},
    {"SectorStar", "Style=RGBCMYK"},
    {"SectorStar", "Style=Sine"},
    {"SectorStar", "Divisions=360"},
    {"SectorStar", "Style=Sine;Divisions=360"},
};

void patternRender(benchmark::State &state, std::string pattern, std::string options)
{
    Quiet quiet;
    auto raster = konaAt(state.range(0) == 1920 ? 25 : 91, 0);
    OvCore core;
    core.start(raster.get(), dataFolder().c_str(), ovBuiltinRenderers());
    QiParams p;
    for (size_t at = 0; at < options.size();) {
        size_t end = options.find(';', at);
        end = end == std::string::npos ? options.size() : end;
        std::string kv = options.substr(at, end - at);
        size_t eq = kv.find('=');
        if (eq != std::string::npos)
            p.set(kv.substr(0, eq), kv.substr(eq + 1));
        at = end + 1;
    }
    p.set("Pattern", pattern);
    OvPatternRenderer *r = core.resolvePattern(pattern.c_str(), p);
    if (!r) {
        state.SkipWithError("no such pattern");
        core.shutdown();
        return;
    }
    // Untimed: output buffers prepared (a multi-frame pattern needs more
    // than the raster starts with) and faulted in, an image pattern's file
    // decoded.
    r->render(&core, raster.get(), p);
    r->render(&core, raster.get(), p);
    for (auto _ : state)
        r->render(&core, raster.get(), p);
    core.shutdown();
}

// Decoding a 4K picture from memory: the 3840x2160 test card as PNG, and the
// same picture as a JPEG (quality 90), at 10 bits.
void BM_Decode(benchmark::State &state)
{
    Quiet quiet;
    const bool jpeg = state.range(0) == 1;
    auto card = loadImage(dataFolder() + "/ImageFiles/Nimbra-Test-Card-2160", 8);
    if (!card) {
        state.SkipWithError("no test card in the data folder");
        return;
    }
    std::string path = dataFolder() + "/ImageFiles/Nimbra-Test-Card-2160.png";
    if (jpeg) {
        path = "/tmp/orvane-bench-decode-" + std::to_string(getpid()) + ".jpg";
        card->saveJpeg(path.c_str(), 90);
    }
    std::vector<uint8_t> bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        fclose(f);
    }
    if (jpeg)
        std::remove(path.c_str());
    for (auto _ : state) {
        auto img = loadImageFromMemory(bytes.data(), bytes.size(), 10, nullptr);
        benchmark::DoNotOptimize(img.get());
        if (!img || img->width() != 3840)
            state.SkipWithError("did not decode");
    }
    state.SetLabel(std::string(jpeg ? "jpeg " : "png ") + std::to_string(bytes.size()) + " bytes");
}
BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A raster that only holds the frame buffer: encoding and presenting do
// nothing, so BM_PatternDraw is the drawing alone, to set beside the store
// bound (BM_StoreBandwidth) of the same run.
class DrawOnlyRaster : public QiRaster {
public:
    DrawOnlyRaster(int32_t w, int32_t h)
    {
        m_bits = 10;
        m_blackLevel = 64;
        m_whiteLevel = 940;
        resize(w, h);
    }
    bool render(int32_t, bool) override { return true; }
    bool setBufferCount(int32_t n) override
    {
        m_bufferCount = n;
        m_currentBuffer = 0;
        return true;
    }
    bool outputBuffer(int32_t) override { return true; }
    std::string gatewareVersion() override { return "bench"; }
    std::string serialNumber() override { return "0"; }
};

void patternDraw(benchmark::State &state, std::string pattern, std::string options)
{
    Quiet quiet;
    DrawOnlyRaster raster(static_cast<int32_t>(state.range(0)), state.range(0) == 1920 ? 1080 : 2160);
    OvCore core;
    core.start(&raster, nullptr, ovBuiltinRenderers());
    QiParams p;
    for (size_t at = 0; at < options.size();) {
        size_t end = options.find(';', at);
        end = end == std::string::npos ? options.size() : end;
        std::string kv = options.substr(at, end - at);
        size_t eq = kv.find('=');
        if (eq != std::string::npos)
            p.set(kv.substr(0, eq), kv.substr(eq + 1));
        at = end + 1;
    }
    p.set("Pattern", pattern);
    OvPatternRenderer *r = core.resolvePattern(pattern.c_str(), p);
    if (!r) {
        state.SkipWithError("no such pattern");
        core.shutdown();
        return;
    }
    r->render(&core, &raster, p);
    for (auto _ : state) {
        r->render(&core, &raster, p);
        benchmark::ClobberMemory();
    }
    core.shutdown();
}

void registerPatterns()
{
    std::vector<std::pair<std::string, std::string>> all;
    for (OvRendererFactory make : ovBuiltinRenderers()) {
        std::unique_ptr<OvPatternRenderer> r(make());
        all.emplace_back(r->name(), "");
    }
    for (const BenchRequest &q : kRequests)
        all.emplace_back(q.pattern, q.options);
    // Every alias the engine starts with (the patterns' own and the shipped
    // images), so none is left out when one is added.
    {
        Quiet quiet;
        DrawOnlyRaster raster(1920, 1080);
        OvCore core;
        core.start(&raster, dataFolder().c_str(), ovBuiltinRenderers());
        QiParams listed;
        core.listPatterns(listed);
        core.shutdown();
        for (const auto &kv : listed) {
            bool alias = kv.second.rfind("Alias/", 0) == 0;
            bool known = std::any_of(all.begin(), all.end(), [&](const auto &e) { return e.first == kv.first; });
            if (alias && !known)
                all.emplace_back(kv.first, "");
        }
    }
    for (const auto &[pattern, options] : all) {
        std::string label = "BM_Pattern/" + pattern + (options.empty() ? "" : "[" + options + "]");
        benchmark::RegisterBenchmark(label.c_str(), patternRender, pattern, options)
            ->Arg(1920)
            ->Arg(4096)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        std::string drawLabel = "BM_PatternDraw/" + pattern + (options.empty() ? "" : "[" + options + "]");
        benchmark::RegisterBenchmark(drawLabel.c_str(), patternDraw, pattern, options)
            ->Arg(1920)
            ->Arg(4096)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

// Keeps each benchmark's median (or its only run) in milliseconds for the
// summary.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    std::vector<std::string> order;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.error_occurred)
                continue;
            std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")
                continue;
            if (r.run_type != Run::RT_Aggregate && ms.count(strip(name)))
                continue; // repetitions: the median aggregate follows
            name = strip(name);
            if (!ms.count(name))
                order.push_back(name);
            ms[name] = r.GetAdjustedRealTime(); // every benchmark here reports milliseconds
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    static std::string strip(std::string name)
    {
        for (const char *tail : {"/real_time", "/manual_time", "/iterations:3"}) {
            const size_t n = std::strlen(tail);
            if (name.size() > n && name.compare(name.size() - n, n, tail) == 0)
                name.resize(name.size() - n);
        }
        return name;
    }
};

// Medians of this run side by side: the end-to-end colour bars against
// FFmpeg, each pattern against colour bars and the 16.7 ms of a 60 Hz frame,
// each drawing against the store bound.
void summary(Collector &c)
{
    auto get = [&](const std::string &n) { return c.ms.count(n) ? c.ms[n] : 0.0; };
    for (const char *w : {"1920", "4096"}) {
        const std::string sz = w;
        const double e2e = get("BM_ColorbarsPostToPresent/" + sz + "/0");
        const double ff = get("BM_FfmpegSmpteHdBarsV210/" + sz);
        if (e2e > 0 && ff > 0)
            std::printf("\ncolour bars posted to presented, v210 at %s: %.3f ms; FFmpeg smptehdbars to v210: "
                        "%.3f ms; ratio %.2f\n",
                        w, e2e, ff, e2e / ff);
        const double bars = get("BM_Pattern/Colorbars/" + sz), bound = get("BM_StoreBandwidth/" + sz +
                                                                             (sz == "1920" ? "/1080" : "/2160"));
        std::printf("\n%-72s %9s %7s %9s %7s\n", ("median at " + sz + " (ms)").c_str(), "v210", "/bars",
                    "draw", "/bound");
        for (const std::string &name : c.order) {
            const std::string head = "BM_Pattern/", tail = "/" + sz;
            if (name.compare(0, head.size(), head) != 0 || name.size() <= tail.size() ||
                name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            const std::string pattern = name.substr(head.size(), name.size() - head.size() - tail.size());
            const double t = get(name), d = get("BM_PatternDraw/" + pattern + tail);
            std::printf("%-72s %9.3f %7.2f %9.3f %7.2f%s\n", pattern.c_str(), t, bars > 0 ? t / bars : 0.0, d,
                        bound > 0 ? d / bound : 0.0, sz == "4096" && t >= 16.7 ? "  over 16.7 ms" : "");
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    registerPatterns();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    summary(rep);
    benchmark::Shutdown();
    return 0;
}
