#include "OvcPGenerator.h"

#include "OvCore.h"
#include "QiLog.h"
#include "XmlRpcServer.h"
#include "XmlRpcSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char kWho[] = "OvcPGenerator";
const char kQuestion[] = "Who is a PGenerator";
constexpr size_t kHostChars = 24;

bool startsWithNoCase(const std::string &s, const char *prefix)
{
    const size_t n = std::strlen(prefix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = s[i], y = prefix[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

bool equalsNoCase(const std::string &s, const char *text)
{
    return s.size() == std::strlen(text) && startsWithNoCase(s, text);
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        const size_t at = s.find(sep, from);
        out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return out;
        from = at + 1;
    }
}

// n comma-separated whole numbers (or n2 when that many are given).
bool ints(const std::string &field, std::vector<long long> &out, size_t n, size_t n2 = 0)
{
    const std::vector<std::string> parts = split(field, ',');
    if (parts.size() != n && (n2 == 0 || parts.size() != n2))
        return false;
    out.clear();
    for (const std::string &p : parts) {
        long long v = 0;
        if (!OvcNet::parseInt(p, v))
            return false;
        out.push_back(v);
    }
    return true;
}

// Printable text of a command for the log: at most 64 characters, control
// bytes shown as '?'.
std::string shown(const std::string &command)
{
    std::string s = command.substr(0, 64);
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '?';
    return command.size() > 64 ? s + "..." : s;
}

uint32_t clampCode(long long v, int32_t bits, const char *what)
{
    const long long top = (1ll << bits) - 1;
    if (v < 0 || v > top) {
        qiLog(1, "%s: %s %lld is outside 0 .. %lld, clamped\n", kWho, what, v, top);
        v = v < 0 ? 0 : top;
    }
    return static_cast<uint32_t>(v);
}

double nowSeconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

} // namespace

// One client connection: commands in, replies out.
class OvcPGenConnection : public XmlRpcSource {
public:
    OvcPGenConnection(int fd, OvcPGenerator *owner)
        : XmlRpcSource(fd, true), m_owner(owner), m_last(std::chrono::steady_clock::now())
    {
    }
    ~OvcPGenConnection() override { m_owner->removeConnection(this); }

    unsigned handleEvent(unsigned) override
    {
        m_last = std::chrono::steady_clock::now();
        if (!flush())
            return 0;
        bool eof = false;
        char chunk[4096];
        // Bounded: what fits one command and its terminator, per event.
        while (!eof && m_in.size() <= OvcPGenerator::kMaxCommand + 2) {
            const ssize_t n = ::recv(getfd(), chunk, sizeof chunk, 0);
            if (n > 0) {
                m_in.append(chunk, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {
                eof = true;
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return 0;
        }
        size_t at = 0;
        for (;;) {
            const size_t end = m_in.find(OvcPGenerator::kTerminator, at);
            if (end == std::string::npos)
                break;
            bool close = false;
            const std::string reply = m_owner->execute(m_in.substr(at, end - at), close);
            at = end + 2;
            if (close) {
                qiLog(3, "%s: socket %d closed by its client\n", "OvcPGenerator", getfd());
                return 0;
            }
            if (!send(reply + OvcPGenerator::kTerminator))
                return 0;
        }
        m_in.erase(0, at);
        if (m_in.size() > OvcPGenerator::kMaxCommand) {
            qiLog(1, "%s: a command of more than %zu bytes, connection closed\n", "OvcPGenerator",
                  OvcPGenerator::kMaxCommand);
            return 0;
        }
        if (eof)
            return 0;
        m_last = std::chrono::steady_clock::now();
        return XmlRpcDispatch::ReadableEvent | (m_out.empty() ? 0u : unsigned(XmlRpcDispatch::WritableEvent));
    }

    bool idleExpired(std::chrono::steady_clock::time_point now) const override
    {
        double limit = m_owner->idleTimeout();
        const bool holding = !m_in.empty() || !m_out.empty();
        if (holding)
            limit = std::min(limit, m_owner->stallTimeout());
        const bool expired = nowSeconds(m_last, now) > limit;
        if (expired)
            qiLog(2, "%s: closing socket %d, idle for %d ms\n", "OvcPGenerator", getfd(),
                  static_cast<int>(limit * 1000));
        return expired;
    }

private:
    // A reply in one write; what the peer has no room for waits.
    bool send(const std::string &reply)
    {
        if (m_out.empty()) {
            const ssize_t n = ::send(getfd(), reply.data(), reply.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
            const size_t sent = n > 0 ? static_cast<size_t>(n) : 0;
            m_out.assign(reply, sent, std::string::npos);
        } else {
            m_out += reply;
        }
        if (m_out.size() > OvcPGenerator::kMaxUnsent) {
            qiLog(1, "%s: client does not read its replies, connection closed\n", "OvcPGenerator");
            return false;
        }
        return true;
    }
    bool flush()
    {
        if (m_out.empty())
            return true;
        const ssize_t n = ::send(getfd(), m_out.data(), m_out.size(), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        m_out.erase(0, static_cast<size_t>(n));
        return true;
    }

    OvcPGenerator *m_owner;
    std::string m_in, m_out;
    std::chrono::steady_clock::time_point m_last;
};

// The UDP discovery socket.
class OvcPGenerator::Discovery : public XmlRpcSource {
public:
    Discovery(int fd, const std::string &host) : XmlRpcSource(fd, false), m_host(host) {}
    unsigned handleEvent(unsigned) override
    {
        // A few datagrams per round; the rest wait for the next.
        for (int i = 0; i < 16; ++i) {
            char buf[512];
            sockaddr_storage from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(getfd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                break;
            const std::string answer = discoveryAnswer(std::string(buf, static_cast<size_t>(n)), m_host);
            if (answer.empty())
                continue;
            if (::sendto(getfd(), answer.data(), answer.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&from),
                         len) < 0)
                qiLog(3, "%s: discovery answer not sent (%s)\n", kWho, strerror(errno));
        }
        return XmlRpcDispatch::ReadableEvent;
    }

private:
    std::string m_host;
};

OvcPGenerator::OvcPGenerator(OvCore *engine, int port, int discoveryPort)
    : m_sink(engine, kWho), m_port(port), m_discoveryPortWanted(discoveryPort),
      m_maxConnections(XmlRpcServer::kMaxConnections), m_idleTimeout(XmlRpcServer::kIdleTimeout),
      m_stallTimeout(XmlRpcServer::kStallTimeout), m_host(OvcNet::hostName())
{
}

OvcPGenerator::~OvcPGenerator()
{
    shutdown();
    m_disp.removeSource(this);
    m_disp.clear();
    XmlRpcSource::close();
}

std::string OvcPGenerator::discoveryAnswer(const std::string &datagram, const std::string &host)
{
    std::string q = datagram;
    while (!q.empty() && (q.back() == '\0' || q.back() == '\r' || q.back() == '\n' || q.back() == ' '))
        q.pop_back();
    if (q != kQuestion)
        return {};
    return "I am a PGenerator " + host.substr(0, kHostChars);
}

bool OvcPGenerator::start(const char *address)
{
    if (m_thread.joinable())
        return m_boundPort >= 0;
    const int fd = XmlRpcSocket::socket();
    bool ok = fd >= 0 && XmlRpcSocket::setNonBlocking(fd) && XmlRpcSocket::setReuseAddr(fd) &&
              XmlRpcSocket::bind(fd, m_port, address) && XmlRpcSocket::listen(fd, 5);
    if (ok) {
        setfd(fd);
        m_boundPort = XmlRpcSocket::getPort(fd);
        m_disp.addSource(this, XmlRpcDispatch::ReadableEvent);
        qiLog(2, "%s: listening on TCP port %d\n", kWho, m_boundPort);
    } else {
        qiLog(1, "%s: cannot listen on TCP port %d (%s)\n", kWho, m_port,
              XmlRpcSocket::getErrorMsg().c_str());
        if (fd >= 0)
            XmlRpcSocket::close(fd);
    }

    const int u = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(m_discoveryPortWanted));
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (address)
        inet_pton(AF_INET, address, &sa.sin_addr);
    int on = 1;
    if (u >= 0)
        setsockopt(u, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (u >= 0 && ::bind(u, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) {
        socklen_t len = sizeof sa;
        getsockname(u, reinterpret_cast<sockaddr *>(&sa), &len);
        m_boundDiscovery = ntohs(sa.sin_port);
        m_discovery = std::make_unique<Discovery>(u, m_host);
        m_disp.addSource(m_discovery.get(), XmlRpcDispatch::ReadableEvent);
        qiLog(2, "%s: discovery on UDP port %d\n", kWho, m_boundDiscovery);
    } else {
        qiLog(1, "%s: cannot listen for discovery on UDP port %d (%s)\n", kWho, m_discoveryPortWanted,
              strerror(errno));
        if (u >= 0)
            ::close(u);
    }
    m_running.store(true);
    m_thread = std::thread(&OvcPGenerator::run, this);
    return ok;
}

void OvcPGenerator::run()
{
    while (m_running.load()) {
        if (m_disp.sourceCount() == 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(kRoundSeconds));
            continue;
        }
        m_disp.work(kRoundSeconds);
    }
    // Connections are closed on this thread, which owns them.
    m_disp.clear();
}

void OvcPGenerator::shutdown()
{
    if (!m_thread.joinable())
        return;
    m_running.store(false);
    m_disp.exit();
    m_thread.join();
    m_discovery.reset();
}

bool OvcPGenerator::paused() const
{
    return m_connections >= m_maxConnections.load() || std::chrono::steady_clock::now() < m_acceptResume;
}

unsigned OvcPGenerator::handleEvent(unsigned)
{
    if (m_connections >= m_maxConnections.load())
        return XmlRpcDispatch::ReadableEvent;
    const int s = XmlRpcSocket::accept(getfd());
    if (s < 0) {
        const int err = XmlRpcSocket::getError();
        // The pending connection stays readable: retrying at once would spin.
        if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
            qiLog(1, "%s: cannot accept a connection (%s)\n", kWho, strerror(err));
            m_acceptResume = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        }
        return XmlRpcDispatch::ReadableEvent;
    }
    if (!XmlRpcSocket::setNonBlocking(s)) {
        XmlRpcSocket::close(s);
        return XmlRpcDispatch::ReadableEvent;
    }
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++m_connections;
    qiLog(2, "%s: client connected (socket %d)\n", kWho, s);
    m_disp.addSource(new OvcPGenConnection(s, this), XmlRpcDispatch::ReadableEvent);
    return XmlRpcDispatch::ReadableEvent;
}

void OvcPGenerator::removeConnection(OvcPGenConnection *c)
{
    --m_connections;
    m_disp.removeSource(c);
}

std::string OvcPGenerator::execute(const std::string &raw, bool &close)
{
    close = false;
    size_t a = 0, b = raw.size();
    while (a < b && (raw[a] == ' ' || raw[a] == '\r' || raw[a] == '\n' || raw[a] == '\t'))
        ++a;
    while (b > a && (raw[b - 1] == ' ' || raw[b - 1] == '\r' || raw[b - 1] == '\n' || raw[b - 1] == '\t'))
        --b;
    const std::string command = raw.substr(a, b - a);
    if (command.empty() || equalsNoCase(command, "QUIT")) {
        close = true;
        return {};
    }
    if (equalsNoCase(command, "IS_ALIVE"))
        return "ALIVE";
    if (equalsNoCase(command, "CMD:GET_RESOLUTION")) {
        int32_t w = 0, h = 0;
        m_sink.engine()->frameSize(w, h);
        return "OK:" + std::to_string(w) + "x" + std::to_string(h);
    }
    // No graphics processor's memory split here; clients only compare it
    // with what large patterns need.
    if (equalsNoCase(command, "CMD:GET_GPU_MEMORY"))
        return "OK:256";
    if (startsWithNoCase(command, "RGB=RECTANGLE10bit;"))
        return rectangle(command, 10);
    if (startsWithNoCase(command, "RGB=RECTANGLE;"))
        return rectangle(command, 8);
    if (startsWithNoCase(command, "RGB=TEXT") || startsWithNoCase(command, "RGB=IMAGE")) {
        qiLog(2, "%s: '%s' accepted, nothing drawn\n", kWho, shown(command).c_str());
        return "OK";
    }
    if (startsWithNoCase(command, "SETCONF:HCFR:TEMPLATERAMDISK:")) {
        qiLog(3, "%s: template '%s'\n", kWho, shown(command.substr(29)).c_str());
        return "OK";
    }
    if (startsWithNoCase(command, "TESTTEMPLATERAMDISK:HCFR:"))
        return triplet(command);
    qiLog(2, "%s: unknown command '%s'\n", kWho, shown(command).c_str());
    return "ERR";
}

std::string OvcPGenerator::rectangle(const std::string &command, int32_t bits)
{
    const std::vector<std::string> f = split(command, ';');
    std::vector<long long> size, colour, bg, pos;
    if (f.size() < 6 || !ints(f[1], size, 2) || !ints(f[3], colour, 3) || !ints(f[4], bg, 3) ||
        !ints(f[5], pos, 2, 4)) {
        qiLog(1, "%s: malformed rectangle '%s'\n", kWho, shown(command).c_str());
        return "ERR";
    }
    int32_t fw = 0, fh = 0;
    m_sink.engine()->frameSize(fw, fh);
    if (fw <= 0 || fh <= 0)
        return "ERR";
    OvcPatch p;
    p.fgBits = p.bgBits = bits;
    for (int i = 0; i < 3; ++i)
        p.fg[i] = clampCode(colour[i], bits, "code value");
    p.keepBg = bg[0] == -1 && bg[1] == -1 && bg[2] == -1;
    if (!p.keepBg)
        for (int i = 0; i < 3; ++i)
            p.bg[i] = clampCode(bg[i], bits, "background code value");

    auto axis = [&](long long length, long long at, long long shift, int32_t frame, const char *name, double &from,
                    double &extent) {
        if (length < 0 || length > frame) {
            qiLog(1, "%s: %s %lld is outside 0 .. %d, clamped\n", kWho, name, length, frame);
            length = length < 0 ? 0 : frame;
        }
        // -1 centres; the shift comes after.
        long long start = (at == -1 ? (frame - length) / 2 : at) + shift;
        long long end = start + length;
        if (start < 0 || end > frame) {
            qiLog(1, "%s: the rectangle reaches past the frame (%s %lld .. %lld of %d), cut\n", kWho, name,
                  start, end, frame);
            start = std::max<long long>(0, std::min<long long>(start, frame));
            end = std::max<long long>(start, std::min<long long>(end, frame));
        }
        from = static_cast<double>(start) / frame;
        extent = static_cast<double>(end - start) / frame;
    };
    axis(size[0], pos[0], pos.size() == 4 ? pos[2] : 0, fw, "width", p.x, p.cx);
    axis(size[1], pos[1], pos.size() == 4 ? pos[3] : 0, fh, "height", p.y, p.cy);
    m_lastRect = p;
    m_haveRect = true;
    if (!m_sink.show(p, &m_running))
        return "ERR";
    ++m_shown;
    return "OK";
}

std::string OvcPGenerator::triplet(const std::string &command)
{
    const std::string rest = command.substr(std::strlen("TESTTEMPLATERAMDISK:HCFR:"));
    std::vector<long long> first;
    if (!ints(split(rest, ';')[0], first, 3)) {
        qiLog(1, "%s: malformed triplets '%s'\n", kWho, shown(command).c_str());
        return "ERR";
    }
    OvcPatch p;
    if (m_haveRect)
        p = m_lastRect;
    for (int i = 0; i < 3; ++i)
        p.fg[i] = clampCode(first[i], p.fgBits, "code value");
    if (!m_haveRect)
        std::memcpy(p.bg, p.fg, sizeof p.bg);
    if (!m_sink.show(p, &m_running))
        return "ERR";
    ++m_shown;
    return "OK";
}
