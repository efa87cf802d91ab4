// SetGen round trips on loopback with our XmlRpcClient: against the
// generator's own server (real engine on a raster double), and against
// Python's SimpleXMLRPCServer (HTTP/1.1, a trivial SetGen) in the same run.
// Each case runs on one keep-alive connection and with a new connection per
// call, and reports calls/s and p50/p99 latency in microseconds.
#include "../tests/remote/RemoteTestEngine.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "StdioOutput.h"
#include "XmlRpcClient.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char kPythonServer[] = R"(
import sys
from xmlrpc.server import SimpleXMLRPCServer, SimpleXMLRPCRequestHandler
class Handler(SimpleXMLRPCRequestHandler):
    protocol_version = "HTTP/1.1"
server = SimpleXMLRPCServer(("127.0.0.1", 0), requestHandler=Handler, logRequests=False)
count = [0]
def SetGen(name):
    count[0] += 1
    return count[0]
server.register_function(SetGen)
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
)";

struct PythonServer {
    pid_t pid = -1;
    int port = -1;
    PythonServer()
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execlp("python3", "python3", "-c", kPythonServer, static_cast<char *>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE *f = fdopen(out[0], "r");
        if (f && fscanf(f, "PORT %d", &port) != 1)
            port = -1;
        if (f)
            fclose(f);
    }
    ~PythonServer()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

void roundTrips(benchmark::State &state, int port, bool keepAlive)
{
    if (port <= 0) {
        state.SkipWithError("server not running");
        return;
    }
    XmlRpcClient client("127.0.0.1", port);
    XmlRpcValue params;
    params[0] = "TestBars";
    XmlRpcValue result;
    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        if (!keepAlive)
            client.close();
        auto t0 = std::chrono::steady_clock::now();
        bool ok = client.execute("SetGen", params, result);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok || result.getType() != XmlRpcValue::TypeInt) {
            state.SkipWithError("call failed");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(micros.begin(), micros.end());
    auto pct = [&](double p) { return micros.empty() ? 0.0 : micros[static_cast<size_t>(p * (micros.size() - 1))]; };
    state.counters["calls_per_s"] = benchmark::Counter(static_cast<double>(micros.size()), benchmark::Counter::kIsRate);
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
}

} // namespace

int main(int argc, char **argv)
{
    // Engine log lines would dominate the timing.
    swapLogOutput(std::make_unique<StdioOutput>(stderr, false, 0));
    remotetest::TestEngine engine;
    OvcXmlPrivates holder(&engine.core);
    holder.start(0, "127.0.0.1");
    int ours = holder.port();
    PythonServer python;

    benchmark::RegisterBenchmark("SetGen/orvane/keepalive", roundTrips, ours, true)->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/python/keepalive", roundTrips, python.port, true)->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/orvane/newconnection", roundTrips, ours, false)->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/python/newconnection", roundTrips, python.port, false)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    holder.shutdown();
    return 0;
}
