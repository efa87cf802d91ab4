#include "OvcArgyllWebClient.h"

#include "QiLog.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char kWho[] = "OvcArgyllWebClient";

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "#RRGGBB" into three 8-bit values.
bool readHex(const std::string &t, uint32_t c[3])
{
    if (t.size() != 7 || t[0] != '#')
        return false;
    for (int i = 0; i < 3; ++i) {
        const int hi = hexDigit(t[1 + 2 * i]), lo = hexDigit(t[2 + 2 * i]);
        if (hi < 0 || lo < 0)
            return false;
        c[i] = static_cast<uint32_t>(hi * 16 + lo);
    }
    return true;
}

std::string trim(const std::string &s)
{
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r' || s[b - 1] == '\n'))
        --b;
    return s.substr(a, b - a);
}

bool sameNoCase(const std::string &a, const char *b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The Content-Length of the header that ends at end; -1 when there is none,
// -2 when it is not a number.
long long contentLength(const std::string &response, size_t end)
{
    for (size_t at = response.find('\n'); at != std::string::npos && at < end;) {
        const size_t next = response.find('\n', at + 1);
        const std::string line = trim(response.substr(at + 1, (next == std::string::npos ? end : next) - at - 1));
        const size_t colon = line.find(':');
        if (colon != std::string::npos && sameNoCase(trim(line.substr(0, colon)), "content-length")) {
            long long n = 0;
            return OvcNet::parseInt(line.substr(colon + 1), n) && n >= 0 ? n : -2;
        }
        at = next;
    }
    return -1;
}

size_t headerEnd(const std::string &response, size_t &skip)
{
    size_t end = response.find("\r\n\r\n");
    skip = 4;
    if (end == std::string::npos) {
        end = response.find("\n\n");
        skip = 2;
    }
    return end;
}

// The whole body of a response that gives its length has arrived.
bool lengthReached(const std::string &response)
{
    size_t skip = 0;
    const size_t end = headerEnd(response, skip);
    if (end == std::string::npos)
        return false;
    const long long n = contentLength(response, end);
    return n >= 0 && response.size() - end - skip >= static_cast<unsigned long long>(n);
}

} // namespace

OvcArgyllWebClient::OvcArgyllWebClient(OvCore *engine, const std::string &host, int port)
    : m_sink(engine, kWho), m_host(host), m_port(port)
{
}

OvcArgyllWebClient::~OvcArgyllWebClient() { stop(); }

void OvcArgyllWebClient::start()
{
    if (m_thread.joinable())
        return;
    m_running.store(true);
    m_thread = std::thread(&OvcArgyllWebClient::run, this);
}

void OvcArgyllWebClient::stop()
{
    if (!m_thread.joinable())
        return;
    m_running.store(false);
    m_wake.fire();
    m_thread.join();
}

bool OvcArgyllWebClient::parseAnswer(const std::string &text, OvcPatch &patch, std::string &error)
{
    const std::string body = trim(text);
    OvcPatch out;
    out.fgBits = out.bgBits = 8;
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t bar = body.find('|', from);
        parts.push_back(trim(body.substr(from, bar == std::string::npos ? std::string::npos : bar - from)));
        if (bar == std::string::npos || parts.size() > 6)
            break;
        from = bar + 1;
    }
    if (parts.size() == 1) {
        if (!readHex(parts[0], out.fg)) {
            error = "not a colour: '" + body.substr(0, 64) + "'";
            return false;
        }
        // Full field: the background is the colour as well.
        std::memcpy(out.bg, out.fg, sizeof out.bg);
        patch = out;
        return true;
    }
    if (parts.size() != 6) {
        error = "expected #fg|#bg|x|y|w|h: '" + body.substr(0, 64) + "'";
        return false;
    }
    if (!readHex(parts[0], out.fg) || !readHex(parts[1], out.bg)) {
        error = "not a colour pair: '" + body.substr(0, 64) + "'";
        return false;
    }
    double *fields[4] = {&out.x, &out.y, &out.cx, &out.cy};
    for (int i = 0; i < 4; ++i) {
        double v = 0.0;
        if (!OvcNet::parseReal(parts[2 + i], v)) {
            error = "not a fraction: '" + parts[2 + i].substr(0, 32) + "'";
            return false;
        }
        if (v < 0.0 || v > 1.0) {
            qiLog(1, "%s: geometry value %s is outside 0 .. 1, clamped\n", kWho, parts[2 + i].c_str());
            v = v < 0.0 ? 0.0 : 1.0;
        }
        *fields[i] = v;
    }
    patch = out;
    return true;
}

bool OvcArgyllWebClient::responseBody(const std::string &response, std::string &body, std::string &error)
{
    size_t skip = 0;
    const size_t end = headerEnd(response, skip);
    if (end == std::string::npos) {
        error = "the answer ended inside its header";
        return false;
    }
    const std::string status = response.substr(0, response.find_first_of("\r\n"));
    const size_t sp = status.find(' ');
    if (status.compare(0, 5, "HTTP/") != 0 || sp == std::string::npos || status.compare(sp + 1, 3, "200") != 0) {
        error = "status '" + status.substr(0, 64) + "'";
        return false;
    }
    body = response.substr(end + skip);
    // With a length given, the body is that long (more is not ours).
    const long long n = contentLength(response, end);
    if (n == -2) {
        error = "bad Content-Length";
        return false;
    }
    if (n >= 0) {
        if (body.size() < static_cast<unsigned long long>(n)) {
            error = "the answer ended inside its body";
            return false;
        }
        body.resize(static_cast<size_t>(n));
    }
    return true;
}

bool OvcArgyllWebClient::exchange(int fd, uint64_t counter, std::string &response, std::string &why)
{
    const std::string request = "GET /ajax/messages?" + std::to_string(counter) + " HTTP/1.1\r\nHost: " + m_host +
                                ":" + std::to_string(m_port) +
                                "\r\nAccept: */*\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
    if (!OvcNet::sendAll(fd, request, m_wake.fd())) {
        why = m_running.load() ? strerror(errno) : "stopping";
        return false;
    }
    ++m_requests;
    response.clear();
    char chunk[4096];
    // No time limit: Argyll answers when it has the next colour, which may
    // take as long as a measurement or the user take.
    for (;;) {
        if (!OvcNet::waitFor(fd, false, m_wake.fd())) {
            why = "stopping";
            return false;
        }
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            why = strerror(errno);
            return false;
        }
        if (response.size() + static_cast<size_t>(got) > kMaxAnswer) {
            why = "the answer is longer than " + std::to_string(kMaxAnswer) + " bytes";
            return false;
        }
        response.append(chunk, static_cast<size_t>(got));
        // A server that gives a length may keep the connection open.
        if (lengthReached(response))
            break;
    }
    if (response.empty()) {
        why = "closed without an answer";
        return false;
    }
    return true;
}

void OvcArgyllWebClient::run()
{
    auto backoff = kFirstBackoff;
    uint64_t counter = 0;
    bool told = false; // the current failure episode is in the log
    while (m_running.load()) {
        std::string error;
        const int fd = OvcNet::connectTo(m_host, m_port, kConnectLimit, m_wake.fd(), error);
        if (!m_running.load()) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        if (fd < 0) {
            qiLog(told ? 3 : 2, "%s: cannot connect to %s:%d (%s); trying again in %d ms\n", kWho, m_host.c_str(),
                  m_port, error.c_str(), static_cast<int>(backoff.count()));
            told = true;
            OvcNet::pause(backoff, m_wake.fd());
            backoff = std::min(backoff * 2, kMaxBackoff);
            continue;
        }
        std::string response, why;
        const bool answered = exchange(fd, ++counter, response, why);
        ::close(fd);
        if (!m_running.load())
            break;
        std::string body;
        OvcPatch patch;
        if (!answered || !responseBody(response, body, why) || !parseAnswer(body, patch, why)) {
            // Nothing to show: the next request waits a while, so a server
            // that is going away is not polled in a loop.
            qiLog(1, "%s: request %llu to %s:%d: %s; asking again in %d ms\n", kWho,
                  static_cast<unsigned long long>(counter), m_host.c_str(), m_port, why.c_str(),
                  static_cast<int>(backoff.count()));
            OvcNet::pause(backoff, m_wake.fd());
            backoff = std::min(backoff * 2, kMaxBackoff);
            continue;
        }
        if (told || counter == 1)
            qiLog(2, "%s: %s:%d answers\n", kWho, m_host.c_str(), m_port);
        told = false;
        backoff = kFirstBackoff;
        // The next request is the sign that this patch is on the output.
        if (m_sink.show(patch, &m_running))
            ++m_shown;
    }
}
