#include "RnServiceResponder.h"

#include "QiLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<RnServiceResponder *> g_responder{nullptr};
const char kWho[] = "RnServiceResponder::lmain";
} // namespace

void RnServiceRecord::toBytes(uint8_t out[kSize]) const
{
    memcpy(out, hostName, kNameBytes);
    out[24] = static_cast<uint8_t>(serviceCode & 0xff);
    out[25] = static_cast<uint8_t>(serviceCode >> 8);
    out[26] = static_cast<uint8_t>(port & 0xff);
    out[27] = static_cast<uint8_t>(port >> 8);
}

RnServiceRecord RnServiceRecord::fromBytes(const uint8_t in[kSize])
{
    RnServiceRecord r;
    memcpy(r.hostName, in, kNameBytes);
    r.hostName[kNameBytes] = '\0';
    r.serviceCode = static_cast<uint16_t>(in[24] | (in[25] << 8));
    r.port = static_cast<uint16_t>(in[26] | (in[27] << 8));
    return r;
}

RnServiceResponder::RnServiceResponder(uint16_t listenPort, uint16_t replyPort, uint16_t xmlRpcPort)
    : m_listenPort(listenPort), m_replyPort(replyPort), m_xmlRpcPort(xmlRpcPort)
{
    m_replySocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_replySocket < 0)
        qiLog(3, "Could not create socket.\n");
    // At most 23 characters: a longer name is cut, the last byte stays zero.
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    memcpy(m_hostName, name, strnlen(name, sizeof m_hostName - 1));
    g_responder.store(this);
}

RnServiceResponder::~RnServiceResponder()
{
    stop();
    if (m_replySocket >= 0)
        close(m_replySocket);
    RnServiceResponder *self = this;
    g_responder.compare_exchange_strong(self, nullptr);
}

RnServiceResponder *RnServiceResponder::instance() { return g_responder.load(); }

void RnServiceResponder::addService()
{
    RnServiceRecord r;
    memcpy(r.hostName, m_hostName, sizeof m_hostName);
    r.serviceCode = kServiceCode;
    r.port = m_xmlRpcPort;
    m_services.push_back(r);
}

bool RnServiceResponder::start()
{
    if (m_thread.joinable())
        return true;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        qiLog(3, "Could not create socket.\n");
        return false;
    }
    int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        qiLog(3, "%s: setSockOpt(BROADCAST): %s \n", kWho, strerror(errno));
    // The discovery port is shared on purpose. A port the system picks is
    // not: with address reuse another socket asking for any port may be
    // given the same one and take the questions meant for this responder.
    if (m_listenPort != 0 && setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        qiLog(3, "%s: setSockOpt(REUSEADDR): %s \n", kWho, strerror(errno));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(m_listenPort);
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        qiLog(3, "Could not bind socket: %s\n", strerror(errno));
        close(s);
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    m_boundPort = ntohs(sa.sin_port);
    m_listenSocket = s;
    qiLog(3, "Waiting for data on UDP port %d\n", m_boundPort);
    m_running.store(true);
    m_thread = std::thread(&RnServiceResponder::lmain, this);
    return true;
}

void RnServiceResponder::stop()
{
    m_running.store(false);
    if (m_thread.joinable())
        m_thread.join();
}

void RnServiceResponder::lmain()
{
    auto windowStart = std::chrono::steady_clock::now();
    unsigned logged = 0, unlogged = 0;
    while (m_running.load()) {
        pollfd p{m_listenSocket, POLLIN, 0};
        int n = poll(&p, 1, 250);
        // A flood would put a line per datagram in the log: past a few a
        // second they are counted and said once a second instead.
        const auto now = std::chrono::steady_clock::now();
        if (now - windowStart >= std::chrono::seconds(1)) {
            if (unlogged)
                qiLog(3, "%s: %u more datagrams answered, not logged\n", kWho, unlogged);
            windowStart = now;
            logged = unlogged = 0;
        }
        if (n <= 0)
            continue;
        char buf[257] = {};
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t got = recvfrom(m_listenSocket, buf, 256, 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (got < 0) {
            qiLog(3, "Error receiving data (%s).", strerror(errno));
            continue;
        }
        // The answer goes to the reply port of the asker, not its source port.
        sockaddr_in to = from;
        to.sin_port = htons(m_replyPort);
        for (const RnServiceRecord &r : m_services) {
            uint8_t bytes[RnServiceRecord::kSize];
            r.toBytes(bytes);
            if (sendto(m_replySocket, bytes, sizeof bytes, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&to),
                       sizeof to) < 0) {
                qiLog(3, "sendto() returns an error (%s)\n", strerror(errno));
                break;
            }
        }
        if (logged < kLoggedPerSecond) {
            ++logged;
            char addr[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
            buf[255] = '\0';
            qiLog(3, "[%s] %s\n", addr, buf);
        } else {
            ++unlogged;
        }
    }
    close(m_listenSocket);
    m_listenSocket = -1;
}
