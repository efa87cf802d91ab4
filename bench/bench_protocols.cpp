// From a patch message leaving the calibration program to its frame being on
// the simulated Kona board's output, for a 10 % window (of the area) at 1080p
// and 2160p: the PGenerator listener, the Resolve-style client, the ArgyllCMS
// web-display client and, as the reference in the same run, an XML-RPC
// SetGen of the window pattern. The frame counts as out when the raster's
// present returns; p50/p99 are in microseconds. Messages travel over
// loopback, so each figure includes one local TCP hop.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "OvcArgyllWebClient.h"
#include "OvcPGenerator.h"
#include "OvcResolveClient.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "SimBoards.h"
#include "StdioOutput.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Notes the time each present returns.
class TimedKona : public KonaRaster {
public:
    bool present(int32_t index) override
    {
        const bool ok = KonaRaster::present(index);
        const auto now = Clock::now();
        {
            std::lock_guard<std::mutex> g(lock);
            ++count;
            last = now;
        }
        cond.notify_all();
        return ok;
    }
    uint64_t presents()
    {
        std::lock_guard<std::mutex> g(lock);
        return count;
    }
    // The time of the first present after number after; false on time-out.
    bool waitAfter(uint64_t after, Clock::time_point &when)
    {
        std::unique_lock<std::mutex> g(lock);
        if (!cond.wait_for(g, std::chrono::seconds(10), [&] { return count > after; }))
            return false;
        when = last;
        return true;
    }
    std::mutex lock;
    std::condition_variable cond;
    uint64_t count = 0;
    Clock::time_point last;
};

TimedKona *g_raster = nullptr;
OvCore *g_core = nullptr;

int listenLoopback(int &port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(fd, 4);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendText(int fd, const std::string &s)
{
    return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
}

// Reads until the text ends with end (or the peer closes).
std::string readUntil(int fd, const std::string &end)
{
    std::string got;
    char buf[4096];
    while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

void setFormat(bool uhd)
{
    QiParams p;
    p.set("VideoFormat", uhd ? "4x1920x1080p 24.00" : "1080p 60.00 3Ga (HDMI, SDI-3Ga)");
    p.set("Pattern", "Patch");
    g_core->waitProcessed(g_core->post(p), std::chrono::seconds(30));
}

// The window's side as a fraction: 10 % of the area with the frame's aspect.
const double kSide = std::sqrt(0.1);
const double kCorner = (1.0 - kSide) / 2.0;

std::string fraction(double v)
{
    char t[32];
    const auto res = std::to_chars(t, t + sizeof t, v, std::chars_format::fixed, 6);
    return std::string(t, res.ptr);
}

// Grey levels alternate so that every message is a new picture.
int level(size_t i) { return i % 2 ? 400 : 600; }

void report(benchmark::State &state, std::vector<double> &micros)
{
    std::sort(micros.begin(), micros.end());
    auto pct = [&](double p) { return micros.empty() ? 0.0 : micros[static_cast<size_t>(p * (micros.size() - 1))]; };
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
    state.counters["patches"] = static_cast<double>(micros.size());
}

void pgenerator(benchmark::State &state)
{
    const bool uhd = state.range(0) == 2160;
    setFormat(uhd);
    OvcPGenerator pg(g_core, 0, 0);
    pg.start("127.0.0.1");
    const int fd = connectLoopback(pg.port());
    int32_t w = 0, h = 0;
    g_core->frameSize(w, h);
    const std::string size = std::to_string(std::lround(w * kSide)) + "," + std::to_string(std::lround(h * kSide));
    std::vector<double> micros;
    size_t i = 0;
    for (auto _ : state) {
        const std::string v = std::to_string(level(i++));
        const std::string cmd = "RGB=RECTANGLE10bit;" + size + ";0;" + v + "," + v + "," + v + ";64,64,64;-1,-1\x02\x0D";
        const uint64_t before = g_raster->presents();
        const auto t0 = Clock::now();
        sendText(fd, cmd);
        if (readUntil(fd, "\x02\x0D") != "OK\x02\x0D") {
            state.SkipWithError("no OK");
            break;
        }
        Clock::time_point shown;
        if (!g_raster->waitAfter(before, shown)) {
            state.SkipWithError("no frame");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(shown - t0).count());
    }
    close(fd);
    pg.shutdown();
    report(state, micros);
}

std::string framed(const std::string &xml)
{
    const uint32_t n = static_cast<uint32_t>(xml.size());
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((n >> shift) & 0xff);
    return s + xml;
}

void resolve(benchmark::State &state)
{
    const bool uhd = state.range(0) == 2160;
    setFormat(uhd);
    int port = 0;
    const int server = listenLoopback(port);
    OvcResolveClient client(g_core, "127.0.0.1", port);
    client.start();
    const int c = accept(server, nullptr, nullptr);
    int on = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string geometry = "<geometry x=\"" + fraction(kCorner) + "\" y=\"" + fraction(kCorner) + "\" cx=\"" +
                                 fraction(kSide) + "\" cy=\"" + fraction(kSide) + "\"/>";
    std::vector<double> micros;
    size_t i = 0;
    for (auto _ : state) {
        const std::string v = std::to_string(level(i++));
        const std::string msg = framed("<calibration><color red=\"" + v + "\" green=\"" + v + "\" blue=\"" + v +
                                       "\" bits=\"10\"/><background red=\"64\" green=\"64\" blue=\"64\" "
                                       "bits=\"10\"/>" +
                                       geometry + "</calibration>");
        const uint64_t before = g_raster->presents();
        const auto t0 = Clock::now();
        sendText(c, msg);
        Clock::time_point shown;
        if (!g_raster->waitAfter(before, shown)) {
            state.SkipWithError("no frame");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(shown - t0).count());
    }
    client.stop();
    close(c);
    close(server);
    report(state, micros);
}

// Full field here: the web display's answer has no geometry.
void argyll(benchmark::State &state)
{
    const bool uhd = state.range(0) == 2160;
    setFormat(uhd);
    int port = 0;
    const int server = listenLoopback(port);
    OvcArgyllWebClient client(g_core, "127.0.0.1", port);
    client.start();
    std::vector<double> micros;
    size_t i = 0;
    for (auto _ : state) {
        const int c = accept(server, nullptr, nullptr);
        readUntil(c, "\r\n\r\n");
        char hex[8];
        const int v = level(i++) / 4;
        std::snprintf(hex, sizeof hex, "#%02X%02X%02X", v, v, v);
        const uint64_t before = g_raster->presents();
        const auto t0 = Clock::now();
        sendText(c, std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n") + hex);
        close(c);
        Clock::time_point shown;
        if (!g_raster->waitAfter(before, shown)) {
            state.SkipWithError("no frame");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(shown - t0).count());
    }
    client.stop();
    close(server);
    report(state, micros);
}

void xmlRpc(benchmark::State &state)
{
    const bool uhd = state.range(0) == 2160;
    setFormat(uhd);
    OvcXmlPrivates holder(g_core);
    holder.start(0, "127.0.0.1");
    const int fd = connectLoopback(holder.port());
    std::vector<double> micros;
    size_t i = 0;
    for (auto _ : state) {
        const std::string v = std::to_string(level(i++));
        auto member = [](const char *k, const std::string &val) {
            return "<member><name>" + std::string(k) + "</name><value>" + val + "</value></member>";
        };
        const std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>SetGen</methodName>\r\n<params>"
                                 "<param><value><struct>" +
                                 member("Pattern", "Window") + member("Size", "10") + member("Color_Red", v) +
                                 member("Color_Green", v) + member("Color_Blue", v) +
                                 "</struct></value></param></params></methodCall>\r\n";
        const std::string request = "POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                                    "Content-length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body;
        const uint64_t before = g_raster->presents();
        const auto t0 = Clock::now();
        sendText(fd, request);
        readUntil(fd, "</methodResponse>\r\n");
        Clock::time_point shown;
        if (!g_raster->waitAfter(before, shown)) {
            state.SkipWithError("no frame");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(shown - t0).count());
    }
    close(fd);
    holder.shutdown();
    report(state, micros);
}

} // namespace

int main(int argc, char **argv)
{
    // Engine log lines would dominate the timing.
    swapLogOutput(std::make_unique<StdioOutput>(stderr, false, 0));
    SimBoards::selectKona();
    TimedKona raster;
    raster.init();
    OvCore core;
    core.start(&raster, nullptr, ovBuiltinRenderers());
    g_raster = &raster;
    g_core = &core;

    for (int lines : {1080, 2160}) {
        benchmark::RegisterBenchmark("PatchToOutput/PGenerator", pgenerator)->Arg(lines)->UseRealTime()->Iterations(200);
        benchmark::RegisterBenchmark("PatchToOutput/Resolve", resolve)->Arg(lines)->UseRealTime()->Iterations(200);
        benchmark::RegisterBenchmark("PatchToOutput/ArgyllWeb", argyll)->Arg(lines)->UseRealTime()->Iterations(200);
        benchmark::RegisterBenchmark("PatchToOutput/XmlRpcSetGen", xmlRpc)->Arg(lines)->UseRealTime()->Iterations(200);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core.shutdown();
    return 0;
}
