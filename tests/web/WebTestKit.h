#pragma once
// What the web tests share: the real engine on the simulated Kona board, a
// web server on a loopback port the system picks, a plain-socket HTTP
// client that sends exactly the bytes a test writes, and the board's output
// decoded back to RGB.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "OvWebServer.h"
#include "QiSignalDecoder.h"
#include "SimBoards.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace webtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The real engine with the built-in patterns on the simulated Kona board
// (1080p 60, v210), colour bars on the output.
struct SimEngine {
    std::unique_ptr<KonaRaster> raster;
    OvCore core;
    SimEngine()
    {
        SimBoards::selectKona();
        raster = std::make_unique<KonaRaster>();
        EXPECT_TRUE(raster->init());
        core.start(raster.get(), ORVANE_DATA_DIR, ovBuiltinRenderers());
        const int32_t id = core.postPattern("Colorbars");
        EXPECT_TRUE(core.waitProcessed(id, 10s));
    }
    ~SimEngine() { core.shutdown(); }
};

inline OvWebServer::Options options(const std::string &token = std::string())
{
    OvWebServer::Options o;
    o.address = "127.0.0.1";
    o.port = 0;
    o.token = token;
    o.pageFolder = std::string(ORVANE_DATA_DIR) + "/web";
    o.info.name = "testhost";
    o.info.version = "9.9.9";
    o.info.protocols.push_back({"XML-RPC", "", 9022});
    return o;
}

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    bool complete = false; // a whole answer arrived
    std::string header(const std::string &lowerName) const
    {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

inline std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// One TCP connection to 127.0.0.1:port.
class Conn {
public:
    explicit Conn(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        int yes = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    ~Conn()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Conn(const Conn &) = delete;
    Conn &operator=(const Conn &) = delete;

    bool ok() const { return m_ok; }
    bool send(const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // True when the peer has closed (or reset) the connection within limit.
    bool closedWithin(std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        char buf[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                return false;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
            m_pending.append(buf, static_cast<size_t>(n));
        }
    }
    // Reads one answer (head only for HEAD requests and 204/304).
    Reply read(std::chrono::milliseconds limit = 10s, bool head = false)
    {
        Reply r;
        const auto end = Clock::now() + limit;
        auto fill = [&]() {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            m_pending.append(buf, static_cast<size_t>(n));
            return true;
        };
        size_t headEnd;
        while ((headEnd = m_pending.find("\r\n\r\n")) == std::string::npos)
            if (!fill())
                return r;
        const std::string headText = m_pending.substr(0, headEnd);
        m_pending.erase(0, headEnd + 4);
        size_t line = headText.find("\r\n");
        const std::string status = headText.substr(0, line);
        if (status.size() >= 12)
            r.status = std::atoi(status.c_str() + 9);
        while (line != std::string::npos) {
            const size_t next = headText.find("\r\n", line + 2);
            const std::string h = headText.substr(line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
            const size_t colon = h.find(':');
            if (colon != std::string::npos) {
                std::string v = h.substr(colon + 1);
                while (!v.empty() && v.front() == ' ')
                    v.erase(0, 1);
                r.headers[lower(h.substr(0, colon))] = v;
            }
            line = next;
        }
        size_t length = 0;
        if (!head && r.status != 204 && r.status != 304)
            length = static_cast<size_t>(std::atoll(r.header("content-length").c_str()));
        while (m_pending.size() < length)
            if (!fill())
                return r;
        r.body = m_pending.substr(0, length);
        m_pending.erase(0, length);
        r.complete = true;
        return r;
    }

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    bool m_ok = false;
    std::string m_pending;
};

// A request with the Host header a browser at 127.0.0.1:port would send.
inline std::string request(int port, const std::string &method, const std::string &path,
                           const std::string &body = std::string(), const std::string &extra = std::string())
{
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + extra;
    if (!body.empty() || method == "POST")
        r += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
}

inline Reply call(int port, const std::string &method, const std::string &path,
                  const std::string &body = std::string(), const std::string &extra = std::string(),
                  std::chrono::milliseconds limit = 15s)
{
    Conn c(port);
    if (!c.ok() || !c.send(request(port, method, path, body, extra)))
        return Reply();
    return c.read(limit, method == "HEAD");
}

// The board's output decoded to R, G, B code values at 10 bits.
struct Picture {
    int32_t width = 0, height = 0;
    uint64_t sequence = 0;
    QiDecodedSignal rgb;
    bool valid() const { return width > 0; }
    std::vector<int> at(int x, int y) const
    {
        const size_t i = static_cast<size_t>(y) * width + x;
        return {rgb.c0[i], rgb.c1[i], rgb.c2[i]};
    }
};

inline Picture boardPicture(OvCore &core)
{
    Picture p;
    SimFrame f;
    QiSignalLayout layout;
    QiDecodedSignal d;
    if (!SimBoards::outputFrame(f) || !qiSignalLayoutFromName(f.layout, layout) ||
        !qiDecodeSignal(layout, f.bytes.data(), f.bytes.size(), f.width, f.height, f.rowBytes, d) ||
        !qiSignalToRgb(d, core.outputEncoding(), p.rgb))
        return p;
    p.width = f.width;
    p.height = f.height;
    p.sequence = f.sequence;
    return p;
}

} // namespace webtest
