#include "RnServiceRequestor.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

RnServiceRequestor::RnServiceRequestor(uint16_t listenPort, uint16_t requestPort, const char *broadcastAddress,
                                       int budgetMs)
    : m_listenPort(listenPort), m_requestPort(requestPort),
      m_broadcastAddress(broadcastAddress ? broadcastAddress : "255.255.255.255"), m_budgetMs(budgetMs)
{
}

RnServiceRequestor::~RnServiceRequestor()
{
    stop();
    if (m_broadcastSocket >= 0)
        close(m_broadcastSocket);
}

bool RnServiceRequestor::start()
{
    if (m_thread.joinable())
        return true;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(m_listenPort);
    if (s < 0 || setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        fprintf(stderr, "Could not bind socket (port %d): %s\n", m_listenPort, strerror(errno));
        if (s >= 0)
            close(s);
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    m_boundPort = ntohs(sa.sin_port);
    m_listenSocket = s;
    m_thread = std::thread(&RnServiceRequestor::lmain, this);

    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_broadcastSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_broadcastSocket < 0) {
        printf("Could not create socket.\n");
        return true;
    }
    if (setsockopt(m_broadcastSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        printf("(setsockopt %d): %s\n", -1, strerror(errno));
    // Ask once ourselves rather than waiting for someone else to ask.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_requestPort);
    if (inet_pton(AF_INET, m_broadcastAddress.c_str(), &to.sin_addr) == 1)
        sendto(m_broadcastSocket, kRequest, strlen(kRequest), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&to),
               sizeof to);
    return true;
}

void RnServiceRequestor::stop()
{
    m_stop.store(true);
    wait();
}

void RnServiceRequestor::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<RnServiceRequestor::Answer> RnServiceRequestor::answers() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_answers;
}

std::vector<RnServiceRecord> RnServiceRequestor::recordsIn(const uint8_t *data, size_t length)
{
    std::vector<RnServiceRecord> records;
    for (size_t i = 0; i + RnServiceRecord::kSize <= length; i += RnServiceRecord::kSize)
        records.push_back(RnServiceRecord::fromBytes(data + i));
    return records;
}

void RnServiceRequestor::lmain()
{
    for (int budget = m_budgetMs; budget > 250 && !m_stop.load(); budget -= 250) {
        pollfd p{m_listenSocket, POLLIN, 0};
        int n = poll(&p, 1, 250);
        if (n < 0)
            break;
        if (n == 0)
            continue;
        uint8_t buf[256] = {};
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t got = recvfrom(m_listenSocket, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (got < 0) {
            printf("An error occured while receiving data, exiting.\n");
            break;
        }
        char addr[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
        std::lock_guard<std::mutex> guard(m_lock);
        for (const RnServiceRecord &r : recordsIn(buf, static_cast<size_t>(got)))
            m_answers.push_back(Answer{r, addr});
    }
    close(m_listenSocket);
    m_listenSocket = -1;
}
