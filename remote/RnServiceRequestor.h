#pragma once
#include "RnServiceResponder.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Collects discovery answers for a few seconds: asks once by broadcast, then
// keeps every 28-byte record that arrives on its port with the sender's
// address. The list may be read from any thread while it is collecting.
class RnServiceRequestor {
public:
    static constexpr int kBudgetMs = 8000;

    struct Answer {
        RnServiceRecord record;
        std::string address; // dotted IPv4 of the answering host
    };

    explicit RnServiceRequestor(uint16_t listenPort = RnServiceResponder::kReplyPort,
                                uint16_t requestPort = RnServiceResponder::kListenPort,
                                const char *broadcastAddress = "255.255.255.255", int budgetMs = kBudgetMs);
    // Stops collecting and joins the thread.
    ~RnServiceRequestor();

    // Binds the listening port, starts the thread and sends the request.
    bool start();
    void stop();
    // Blocks until the collecting time is over.
    void wait();
    std::vector<Answer> answers() const;
    uint16_t port() const { return m_boundPort; }

    // The complete 28-byte records in one answer datagram (the rest ignored).
    static std::vector<RnServiceRecord> recordsIn(const uint8_t *data, size_t length);

    // The request datagram sent to the discovery port.
    static constexpr const char *kRequest = "Orvane discovery request";

    RnServiceRequestor(const RnServiceRequestor &) = delete;
    RnServiceRequestor &operator=(const RnServiceRequestor &) = delete;

private:
    void lmain();

    int m_listenSocket = -1;
    int m_broadcastSocket = -1;
    uint16_t m_listenPort, m_requestPort;
    std::string m_broadcastAddress;
    int m_budgetMs;
    uint16_t m_boundPort = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::vector<Answer> m_answers;
};
