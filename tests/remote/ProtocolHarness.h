#pragma once
// A generator on the simulated Kona board with every built-in pattern, for
// the calibration protocols' tests: what each present put on the board's
// output is recorded (the luma at a few points), so a test can tell which
// patches reached the output, how often and in what order.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "QiLog.h"
#include "QiOutput.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace prototest {

using namespace std::chrono_literals;

// The luma (10-bit v210) of the board's output frame at (x, y).
inline int lumaAt(const SimFrame &f, int x, int y)
{
    QiDecodedSignal d;
    QiSignalLayout layout;
    if (!qiSignalLayoutFromName(f.layout, layout) || x < 0 || y < 0 || x >= f.width || y >= f.height)
        return -1;
    // One row is enough.
    const uint8_t *row = f.bytes.data() + static_cast<size_t>(y) * f.rowBytes;
    if (!qiDecodeSignal(layout, row, f.rowBytes, f.width, 1, f.rowBytes, d))
        return -1;
    return d.c0[static_cast<size_t>(x)];
}

// What one present left on the output: luma at the centre and a corner.
struct Shown {
    uint64_t sequence;
    int centre, corner;
};

class RecordingKona : public KonaRaster {
public:
    bool present(int32_t index) override
    {
        const bool ok = KonaRaster::present(index);
        SimFrame f;
        if (SimBoards::outputFrame(f)) {
            std::lock_guard<std::mutex> g(lock);
            shown.push_back({f.sequence, lumaAt(f, f.width / 2, f.height / 2), lumaAt(f, 0, 0)});
        }
        return ok;
    }
    std::vector<Shown> take()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<Shown> out;
        out.swap(shown);
        return out;
    }
    std::mutex lock;
    std::vector<Shown> shown;
};

// Collects the log (and still lets a test see it on failure).
class LogLines : public QiOutput {
public:
    bool write(const char *text, size_t n) override
    {
        std::lock_guard<std::mutex> g(lock);
        all.append(text, n);
        return true;
    }
    std::string text()
    {
        std::lock_guard<std::mutex> g(lock);
        return all;
    }
    bool has(const std::string &s) { return text().find(s) != std::string::npos; }
    std::mutex lock;
    std::string all;
};

struct SimGenerator {
    std::unique_ptr<RecordingKona> raster;
    OvCore core;
    LogLines *log = nullptr;
    std::unique_ptr<QiOutput> previousLog;

    SimGenerator()
    {
        auto lines = std::make_unique<LogLines>();
        log = lines.get();
        previousLog = swapLogOutput(std::move(lines));
        SimBoards::selectKona();
        raster = std::make_unique<RecordingKona>();
        raster->init();
        core.start(raster.get(), nullptr, ovBuiltinRenderers());
        // Something on the output first, then a clean record.
        bool r;
        core.waitTransaction(core.postPattern("Colorbars"), r);
        core.waitProcessed(core.postPattern("Colorbars"), 5s);
        raster->take();
    }
    ~SimGenerator()
    {
        core.shutdown();
        raster.reset();
        swapLogOutput(std::move(previousLog));
    }
    SimFrame output()
    {
        SimFrame f;
        SimBoards::outputFrame(f);
        return f;
    }
    // Waits until the recorded presents satisfy pred.
    template <class Pred> bool waitShown(Pred pred, std::chrono::milliseconds limit = 10s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard<std::mutex> g(raster->lock);
                if (pred(raster->shown))
                    return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
};

// A TCP listener on 127.0.0.1 at a port the system picks.
struct Listener {
    int fd = -1, port = 0;
    Listener()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    }
    ~Listener()
    {
        if (fd >= 0)
            close(fd);
    }
    // A connection within limit, or -1.
    int accept(std::chrono::milliseconds limit = 10s)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) <= 0)
            return -1;
        return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

inline bool sendAll(int fd, const std::string &s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Whether the peer ended the connection (end of file or reset) within limit.
inline bool peerGone(int fd, std::chrono::milliseconds limit = 5s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

} // namespace prototest
