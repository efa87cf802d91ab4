#pragma once
#include "QiOutput.h"
#include <cstdint>
#include <netinet/in.h>

// Log output that sends every line as one datagram to host:port.
class UdpOutput : public QiOutput {
public:
    static constexpr uint16_t kDefaultPort = 5112;

    // An unresolvable host leaves the output without a destination; its lines
    // are dropped.
    explicit UdpOutput(const char *host, uint16_t port = kDefaultPort);
    ~UdpOutput() override;
    bool write(const char *bytes, size_t length) override;

    bool hasDestination() const { return m_haveDest; }

private:
    int m_socket = -1;
    bool m_haveDest = false;
    sockaddr_in m_dest{};
};
