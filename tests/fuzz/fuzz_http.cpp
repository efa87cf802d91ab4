// The HTTP side of the server: the header scan against a plain reading of
// its rules written out here, and a connection fed the input over a socket
// in pieces (one or more requests, pipelined, cut anywhere), whose every
// answer must be a whole, well-formed response.
#include "FuzzClock.h"
#include "FuzzXml.h"

#include "XmlRpcServer.h"
#include "XmlRpcServerConnection.h"
#include "XmlRpcUtil.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class Echo : public XmlRpcServerMethod {
public:
    explicit Echo(XmlRpcServer *s) : XmlRpcServerMethod("Echo", s) {}
    void execute(XmlRpcValue &params, XmlRpcValue &result) override { result = params; }
};

XmlRpcServer &server()
{
    static XmlRpcServer *s = [] {
        auto *srv = new XmlRpcServer;
        new Echo(srv);
        srv->enableIntrospection(true);
        return srv;
    }();
    return *s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool matchNoCase(const std::string &s, size_t at, const char *p)
{
    for (size_t k = 0; p[k]; ++k)
        if (lower(s[at + k]) != lower(p[k]))
            return false;
    return true;
}

// The scan as its rules read: position by position, each pattern tried only
// when more bytes than its length remain (for the client, an end of header
// may also end the bytes); the last length and connection found count.
XmlRpcHeaderScan reference(const std::string &h, bool endAtEnd)
{
    XmlRpcHeaderScan r;
    size_t lengthAt = 0, connectionAt = 0;
    for (size_t i = 0; i < h.size(); ++i) {
        const size_t left = h.size() - i;
        // The end of the header may close a client's bytes exactly.
        auto room = [&](size_t n) { return endAtEnd ? left >= n : left > n; };
        if (left > 16 && matchNoCase(h, i, "Content-length: ")) {
            r.haveLength = true;
            lengthAt = i + 16;
        } else if (left > 12 && matchNoCase(h, i, "Connection: ")) {
            r.haveConnection = true;
            connectionAt = i + 12;
        } else if (room(4) && h.compare(i, 4, "\r\n\r\n") == 0) {
            r.complete = true;
            r.bodyStart = i + 4;
            break;
        } else if (room(2) && h.compare(i, 2, "\n\n") == 0) {
            r.complete = true;
            r.bodyStart = i + 2;
            break;
        }
    }
    if (r.haveLength) {
        // atoi's reading, clamped to the int range.
        size_t p = lengthAt;
        while (p < h.size() && (h[p] == ' ' || (h[p] >= '\t' && h[p] <= '\r')))
            ++p;
        bool negative = false;
        if (p < h.size() && (h[p] == '+' || h[p] == '-'))
            negative = h[p++] == '-';
        long long v = 0;
        for (; p < h.size() && h[p] >= '0' && h[p] <= '9'; ++p)
            v = std::min<long long>(v * 10 + (h[p] - '0'), 1LL << 40);
        v = negative ? -v : v;
        r.contentLength = static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v)));
    }
    if (r.haveConnection) {
        size_t end = connectionAt;
        while (end < h.size() && h[end] != '\r' && h[end] != '\n')
            ++end;
        r.connection = h.substr(connectionAt, end - connectionAt);
    }
    const size_t headerEnd = r.complete ? r.bodyStart : h.size();
    for (size_t i = 0; i + 8 <= headerEnd; ++i)
        if (h.compare(i, 8, "HTTP/1.0") == 0) {
            r.http10 = true;
            break;
        }
    return r;
}

void compareScans(const std::string &h, bool endAtEnd)
{
    const XmlRpcHeaderScan a = XmlRpcHeaderScan::scan(h, endAtEnd), b = reference(h, endAtEnd);
    if (a.complete != b.complete || (a.complete && a.bodyStart != b.bodyStart) || a.haveLength != b.haveLength ||
        (a.haveLength && a.contentLength != b.contentLength) || a.haveConnection != b.haveConnection ||
        (a.haveConnection && a.connection != b.connection) || a.http10 != b.http10 ||
        a.keepAlive() != b.keepAlive()) {
        std::fprintf(stderr,
                     "header scan (endAtEnd %d) differs from its rules: complete %d/%d body %zu/%zu length %d:%d/%d:%d "
                     "connection %d/%d http10 %d/%d\n",
                     endAtEnd, a.complete, b.complete, a.bodyStart, b.bodyStart, a.haveLength, a.contentLength,
                     b.haveLength, b.contentLength, a.haveConnection, b.haveConnection, a.http10, b.http10);
        std::abort();
    }
}

// Splits what the connection wrote back into responses and checks each.
void checkResponses(const std::string &out)
{
    size_t at = 0;
    while (at < out.size()) {
        const size_t headerEnd = out.find("\r\n\r\n", at);
        const size_t lengthAt = out.find("Content-length: ", at);
        if (headerEnd == std::string::npos || lengthAt == std::string::npos || lengthAt > headerEnd) {
            std::fprintf(stderr, "a partial or headless response:\n%.2000s\n", out.c_str() + at);
            std::abort();
        }
        const size_t length = std::strtoul(out.c_str() + lengthAt + 16, nullptr, 10);
        const size_t end = headerEnd + 4 + length;
        if (end > out.size()) {
            std::fprintf(stderr, "a response cut short:\n%.2000s\n", out.c_str() + at);
            std::abort();
        }
        fuzzxml::checkResponse(out.substr(at, end - at));
        at = end;
    }
}

void drain(int fd, std::string &out)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return;
        out.append(buf, static_cast<size_t>(n));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = (XmlRpcUtil::setVerbosity(0), true);
    (void)quiet;
    const std::string text(reinterpret_cast<const char *>(data), size);
    compareScans(text, false);
    compareScans(text, true);

    // The connection, fed in pieces whose sizes the input's first byte sets.
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0)
        return 0;
    const double t0 = fuzzclock::now();
    std::string out;
    bool open = true;
    {
        XmlRpcServerConnection c(sv[0], &server(), false);
        const size_t piece = size ? 1 + data[0] % 97 * 13 : 1;
        size_t sent = 0;
        for (int rounds = 0; open && rounds < 100000 && sent < size; ++rounds) {
            const ssize_t n = send(sv[1], data + sent, std::min(piece, size - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<size_t>(n);
            open = c.handleEvent(XmlRpcDispatch::ReadableEvent) != 0;
            drain(sv[1], out);
        }
        shutdown(sv[1], SHUT_WR);
        for (int rounds = 0; open && rounds < 1000; ++rounds) {
            open = c.handleEvent(c.state() == XmlRpcServerConnection::WRITE_RESPONSE ? XmlRpcDispatch::WritableEvent
                                                                                    : XmlRpcDispatch::ReadableEvent) != 0;
            drain(sv[1], out);
        }
        if (open) {
            std::fprintf(stderr, "the connection neither ended nor closed at end of file\n");
            std::abort();
        }
    }
    close(sv[0]);
    drain(sv[1], out);
    close(sv[1]);
    checkResponses(out);
    const double took = fuzzclock::now() - t0;
    if (took > 2.0 + 20e-6 * static_cast<double>(size)) {
        std::fprintf(stderr, "%zu bytes took %.3f s\n", size, took);
        std::abort();
    }
    return 0;
}
