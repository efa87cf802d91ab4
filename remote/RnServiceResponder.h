#pragma once
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// One 28-byte discovery record: host name in 24 bytes (zero padded), then the
// service code and the XML-RPC port, little-endian.
struct RnServiceRecord {
    static constexpr size_t kSize = 28;
    static constexpr size_t kNameBytes = 24;
    // The 24 name bytes and a zero that is always there: a record from the
    // network may fill all 24, and hostName is still read as text safely.
    char hostName[kNameBytes + 1] = {};
    uint16_t serviceCode = 0;
    uint16_t port = 0;

    void toBytes(uint8_t out[kSize]) const;
    static RnServiceRecord fromBytes(const uint8_t in[kSize]);
};

// Answers every datagram on the discovery port with the service records,
// sent to the reply port of the asker. One per process, on its own thread.
class RnServiceResponder {
public:
    static constexpr uint16_t kListenPort = 3529;
    static constexpr uint16_t kReplyPort = 3530;
    static constexpr uint16_t kServiceCode = 5113;
    static constexpr uint16_t kXmlRpcPort = 9022;
    // Datagrams logged one by one per second; more are only counted.
    static constexpr unsigned kLoggedPerSecond = 20;

    // listenPort 0 lets the system pick (see port()).
    explicit RnServiceResponder(uint16_t listenPort = kListenPort, uint16_t replyPort = kReplyPort,
                                uint16_t xmlRpcPort = kXmlRpcPort);
    // Stops and joins the thread.
    ~RnServiceResponder();

    // The responder of this process, or null.
    static RnServiceResponder *instance();

    // Appends a record: this host's name, the service code and the XML-RPC port.
    void addService();
    // Binds the listening socket and starts the thread; false when the
    // socket cannot be bound (the responder then stays silent).
    bool start();
    void stop();
    // The bound listening port, 0 before start.
    uint16_t port() const { return m_boundPort; }
    const char *hostName() const { return m_hostName; }
    const std::vector<RnServiceRecord> &services() const { return m_services; }

    RnServiceResponder(const RnServiceResponder &) = delete;
    RnServiceResponder &operator=(const RnServiceResponder &) = delete;

private:
    void lmain();

    int m_replySocket = -1;
    int m_listenSocket = -1;
    char m_hostName[24] = {};
    std::vector<RnServiceRecord> m_services; // filled before the thread starts
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    uint16_t m_listenPort, m_replyPort, m_xmlRpcPort;
    uint16_t m_boundPort = 0;
};
