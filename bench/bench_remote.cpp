// SetGen round trips on loopback with our XmlRpcClient: against the
// generator's own server (real engine on a raster double), and against
// Python's SimpleXMLRPCServer (HTTP/1.1, a trivial SetGen) in the same run.
// Each case runs on one keep-alive connection and with a new connection per
// call, and reports calls/s and p50/p99 latency in microseconds; a minimal
// blocking client on one keep-alive connection drives both as well. For
// scale: a bare echo server (the machine's floor for a round trip) and
// GetOrvVersion, which does not involve the render thread.
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
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
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

// method "SetGen" sends "TestBars" and expects the transaction id; any
// other method is called without parameters and only has to succeed.
void roundTrips(benchmark::State &state, int port, bool keepAlive, const char *method)
{
    const bool setGen = std::strcmp(method, "SetGen") == 0;
    if (port <= 0) {
        state.SkipWithError("server not running");
        return;
    }
    XmlRpcClient client("127.0.0.1", port);
    XmlRpcValue params;
    if (setGen)
        params[0] = "TestBars";
    XmlRpcValue result;
    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        if (!keepAlive)
            client.close();
        auto t0 = std::chrono::steady_clock::now();
        bool ok = client.execute(method, params, result);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok || client.isFault() || (setGen && result.getType() != XmlRpcValue::TypeInt)) {
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

// The floor of a round trip on this machine: a bare server thread on a
// blocking socket that answers every request with a fixed SetGen response,
// no parsing and no engine.
struct EchoServer {
    int listener = -1, port = -1;
    std::thread thread;
    EchoServer()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(listener, 4) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
            return;
        port = ntohs(sa.sin_port);
        thread = std::thread([this] { serve(); });
    }
    void serve()
    {
        const std::string body = "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value><i4>1</i4>"
                                 "</value>\r\n</param></params></methodResponse>\r\n";
        const std::string response = "HTTP/1.1 200 OK\r\nServer: echo\r\nContent-Type: text/xml\r\nContent-length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body;
        for (;;) {
            int fd = accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            char buf[4096];
            // One request per read: the clients here send a request whole and
            // wait for its answer.
            while (recv(fd, buf, sizeof buf, 0) > 0)
                if (send(fd, response.data(), response.size(), MSG_NOSIGNAL) < 0)
                    break;
            close(fd);
        }
    }
    ~EchoServer()
    {
        if (listener >= 0) {
            shutdown(listener, SHUT_RDWR);
            close(listener);
        }
        if (thread.joinable())
            thread.join();
    }
};

// The same call from a minimal client: one blocking socket, a fixed request,
// the response read up to its Content-length. Shows the servers without our
// client's share of each round trip.
void rawRoundTrips(benchmark::State &state, int port)
{
    if (port <= 0) {
        state.SkipWithError("server not running");
        return;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(fd);
        state.SkipWithError("connect failed");
        return;
    }
    const std::string body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>SetGen</methodName>\r\n<params><param>"
                             "<value>TestBars</value></param></params></methodCall>\r\n";
    const std::string request = "POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\nContent-length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    std::vector<double> micros;
    micros.reserve(1 << 20);
    std::string got;
    char buf[4096];
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            state.SkipWithError("send failed");
            break;
        }
        got.clear();
        size_t need = std::string::npos;
        while (need == std::string::npos || got.size() < need) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
            size_t end = got.find("\r\n\r\n");
            if (need == std::string::npos && end != std::string::npos) {
                size_t at = got.find("ontent-");
                size_t len = at == std::string::npos ? 0 : std::strtoul(got.c_str() + at + 15, nullptr, 10);
                need = end + 4 + len;
            }
        }
        auto t1 = std::chrono::steady_clock::now();
        const bool integer = got.find("<int>") != std::string::npos || got.find("<i4>") != std::string::npos;
        if (need == std::string::npos || got.size() < need || !integer) {
            state.SkipWithError("call failed");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    close(fd);
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

    benchmark::RegisterBenchmark("SetGen/orvane/keepalive", roundTrips, ours, true, "SetGen")->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/python/keepalive", roundTrips, python.port, true, "SetGen")->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/orvane/rawclient", rawRoundTrips, ours)->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/python/rawclient", rawRoundTrips, python.port)->UseRealTime();
    EchoServer floor;
    benchmark::RegisterBenchmark("SetGen/floor/rawclient", rawRoundTrips, floor.port)->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/floor/keepalive", roundTrips, floor.port, true, "SetGen")->UseRealTime();
    benchmark::RegisterBenchmark("GetOrvVersion/orvane/keepalive", roundTrips, ours, true, "GetOrvVersion")
        ->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/orvane/newconnection", roundTrips, ours, false, "SetGen")->UseRealTime();
    benchmark::RegisterBenchmark("SetGen/python/newconnection", roundTrips, python.port, false, "SetGen")->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    holder.shutdown();
    return 0;
}
