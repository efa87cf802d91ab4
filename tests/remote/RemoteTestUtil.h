#pragma once
// Loopback helpers shared by the remote tests.
#include "XmlRpcServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace remotetest {

// CPU seconds of the calling thread: a loaded machine stretches wall time,
// not the work a read does, so time bounds on parsing use this.
inline double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A blocking TCP connection to 127.0.0.1:port, or -1.
inline int connectTo(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, const std::string &s)
{
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the peer closes, one full HTTP response has arrived, or the
// time runs out. closed tells whether end of file was seen.
inline std::string readResponse(int fd, bool *closed = nullptr, int timeoutMs = 3000)
{
    std::string got;
    if (closed)
        *closed = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t h = got.find("\r\n\r\n");
        if (h != std::string::npos) {
            size_t l = got.find("Content-length: ");
            if (l != std::string::npos && l < h) {
                size_t len = std::stoul(got.substr(l + 16, 24));
                if (got.size() >= h + 4 + len)
                    return got;
            }
        }
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            return got;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            return got;
        char buf[65536];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            return got;
        }
        got.append(buf, static_cast<size_t>(n));
    }
}

// True when the peer has closed the connection within timeoutMs.
inline bool peerClosed(int fd, int timeoutMs = 3000)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char c;
    return recv(fd, &c, 1, MSG_PEEK) <= 0;
}

inline std::string httpPost(const std::string &body, const char *version = "HTTP/1.1", const char *extra = "")
{
    return std::string("POST /RPC2 ") + version + "\r\nHost: x\r\nContent-Type: text/xml\r\n" + extra +
           "Content-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string callBody(const std::string &method, const std::string &paramsXml = "")
{
    std::string b = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method + "</methodName>\r\n";
    if (!paramsXml.empty())
        b += "<params>" + paramsXml + "</params>";
    return b + "</methodCall>\r\n";
}

inline std::string bodyOf(const std::string &response)
{
    size_t h = response.find("\r\n\r\n");
    return h == std::string::npos ? std::string() : response.substr(h + 4);
}

// Runs a server's dispatcher on its own thread in short rounds.
class ServerThread {
public:
    explicit ServerThread(XmlRpcServer &server) : m_server(server)
    {
        m_thread = std::thread([this] {
            while (m_running.load())
                m_server.work(0.05);
            m_server.shutdown();
        });
    }
    ~ServerThread() { stop(); }
    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_running.store(false);
        m_server.exit();
        m_thread.join();
    }

private:
    XmlRpcServer &m_server;
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

} // namespace remotetest
