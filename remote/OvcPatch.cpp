#include "OvcPatch.h"

#include "OvCore.h"
#include "QiLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::string fixed(double v)
{
    char text[64];
    const auto res = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 9);
    return res.ec == std::errc() ? std::string(text, res.ptr) : std::string("0");
}

const char *depthText(int32_t bits) { return bits == 12 ? "12" : bits == 10 ? "10" : "8"; }

} // namespace

QiParams OvcPatch::params() const
{
    QiParams p;
    p.set("Pattern", "Patch");
    p.setInt("Color_Red", static_cast<int32_t>(fg[0]));
    p.setInt("Color_Green", static_cast<int32_t>(fg[1]));
    p.setInt("Color_Blue", static_cast<int32_t>(fg[2]));
    p.set("Bits", depthText(fgBits));
    p.setInt("BgColor_Red", static_cast<int32_t>(bg[0]));
    p.setInt("BgColor_Green", static_cast<int32_t>(bg[1]));
    p.setInt("BgColor_Blue", static_cast<int32_t>(bg[2]));
    p.set("BgBits", depthText(bgBits));
    p.set("x", fixed(x));
    p.set("y", fixed(y));
    p.set("cx", fixed(cx));
    p.set("cy", fixed(cy));
    p.set("KeepBg", keepBg ? "true" : "false");
    return p;
}

bool OvcPatchSink::show(const OvcPatch &patch, const std::atomic<bool> *running)
{
    const QiParams p = patch.params();
    const auto end = std::chrono::steady_clock::now() + kFrameWait;
    int32_t id = OvCore::kRefused;
    // The queue is full only while others flood it; this patch waits its turn.
    while ((id = m_engine->post(p)) == OvCore::kRefused) {
        if ((running && !running->load()) || !m_engine->running() || std::chrono::steady_clock::now() > end) {
            qiLog(1, "%s: the generator did not take the patch\n", m_who);
            return false;
        }
        std::this_thread::sleep_for(kRetry);
    }
    if (!m_engine->waitProcessed(id, kFrameWait)) {
        qiLog(1, "%s: the patch was not on the output within %d ms\n", m_who,
              static_cast<int>(kFrameWait.count()));
        return false;
    }
    return true;
}

OvcWake::OvcWake() { m_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

OvcWake::~OvcWake()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void OvcWake::fire()
{
    uint64_t one = 1;
    ssize_t r = ::write(m_fd, &one, sizeof one);
    (void)r;
}

namespace OvcNet {

bool parseInt(const std::string &text, long long &out)
{
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t'))
        ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t'))
        --b;
    if (a < b && text[a] == '+')
        ++a;
    if (a == b)
        return false;
    const auto res = std::from_chars(text.data() + a, text.data() + b, out);
    return res.ec == std::errc() && res.ptr == text.data() + b;
}

bool parseReal(const std::string &text, double &out)
{
    std::string t;
    t.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t')
            t += c == ',' ? '.' : c;
    size_t a = !t.empty() && t[0] == '+' ? 1 : 0;
    if (a == t.size())
        return false;
    const auto res = std::from_chars(t.data() + a, t.data() + t.size(), out, std::chars_format::fixed);
    return res.ec == std::errc() && res.ptr == t.data() + t.size() && out == out;
}

bool splitHostPort(const std::string &text, int defaultPort, std::string &host, int &port)
{
    port = defaultPort;
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return false;
    } else {
        const size_t colon = text.find(':');
        // More than one colon without brackets: a bare IPv6 address.
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            host = text.substr(0, colon);
            rest = text.substr(colon);
        } else {
            host = text;
        }
    }
    if (host.empty())
        return false;
    if (!rest.empty()) {
        long long p = 0;
        if (!parseInt(rest.substr(1), p) || p < 1 || p > 65535)
            return false;
        port = static_cast<int>(p);
    }
    return port >= 1 && port <= 65535;
}

bool waitFor(int fd, bool writable, int wakeFd, int limitMs)
{
    pollfd p[2] = {{fd, static_cast<short>(writable ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, wakeFd >= 0 ? 2 : 1, limitMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (wakeFd >= 0 && (p[1].revents & POLLIN))
            return false;
        return true;
    }
}

bool pause(std::chrono::milliseconds limit, int wakeFd)
{
    pollfd p{wakeFd, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        const int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n > 0)
            return false;
    }
}

int connectTo(const std::string &host, int port, std::chrono::milliseconds limit, int wakeFd, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        error = gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    error = "no address";
    for (addrinfo *a = list; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = strerror(errno);
            continue;
        }
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                error = strerror(errno);
                ::close(fd);
                fd = -1;
                continue;
            }
            if (!waitFor(fd, true, wakeFd, static_cast<int>(limit.count()))) {
                error = "timed out";
                ::close(fd);
                fd = -1;
                continue;
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            if (soError != 0) {
                error = strerror(soError);
                ::close(fd);
                fd = -1;
                continue;
            }
        }
    }
    freeaddrinfo(list);
    return fd;
}

void closeWithReset(int fd)
{
    if (fd < 0)
        return;
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

bool sendAll(int fd, const std::string &s, int wakeFd)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, true, wakeFd))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

std::string hostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

} // namespace OvcNet
