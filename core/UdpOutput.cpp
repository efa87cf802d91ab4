#include "UdpOutput.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

UdpOutput::UdpOutput(const char *host, uint16_t port) : QiOutput(6)
{
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        // Not through the log: the log is what is being set up.
        printf("Could not create socket. \n");
        return;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *res = nullptr;
    if (host && getaddrinfo(host, nullptr, &hints, &res) == 0 && res) {
        memcpy(&m_dest, res->ai_addr, sizeof(sockaddr_in));
        m_dest.sin_family = AF_INET;
        m_dest.sin_port = htons(port);
        m_haveDest = true;
    }
    if (res)
        freeaddrinfo(res);
}

UdpOutput::~UdpOutput()
{
    if (m_socket >= 0)
        close(m_socket);
}

bool UdpOutput::write(const char *bytes, size_t length)
{
    if (m_socket < 0 || !m_haveDest)
        return false;
    ssize_t n = sendto(m_socket, bytes, length, MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr *>(&m_dest), sizeof(m_dest));
    return n == static_cast<ssize_t>(length);
}
