#pragma once
#include "OvcPatch.h"
#include "XmlRpcDispatch.h"
#include "XmlRpcSource.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

class OvcPGenConnection;

// A listener that speaks PGenerator's protocol, as HCFR and other programs
// use it: one persistent connection per client; every command and every
// reply ends with the two bytes 0x02 0x0D; each reply goes out in one write
// as soon as its frame is on the output. UDP discovery answers
// "Who is a PGenerator" with "I am a PGenerator <host>" to the asker.
// The bounds and idle handling are the XML-RPC server's.
class OvcPGenerator : public XmlRpcSource {
public:
    static constexpr int kPort = 85;
    static constexpr int kDiscoveryPort = 1977;
    static constexpr const char kTerminator[] = "\x02\x0D";
    // A command longer than this closes the connection.
    static constexpr size_t kMaxCommand = 64 * 1024;
    // Replies a client has not read, at most, before it is dropped.
    static constexpr size_t kMaxUnsent = 64 * 1024;
    static constexpr double kRoundSeconds = 0.5;

    OvcPGenerator(OvCore *engine, int port = kPort, int discoveryPort = kDiscoveryPort);
    ~OvcPGenerator() override;

    // Binds the TCP and UDP ports (0: chosen by the system) at address
    // (null: all) and starts the thread. False when the TCP port cannot be
    // bound (logged); discovery failing alone is logged and not fatal.
    bool start(const char *address = nullptr);
    void shutdown();
    int port() const { return m_boundPort; }
    int discoveryPort() const { return m_boundDiscovery; }

    // One command without its terminator: the reply without terminator,
    // or close set (no reply) for QUIT and the empty command. Shows patches
    // through the engine and returns once they are on the output.
    std::string execute(const std::string &command, bool &close);
    // The discovery answer for a datagram, or "" when it is not the question.
    static std::string discoveryAnswer(const std::string &datagram, const std::string &host);

    // Connection bounds, as the XML-RPC server's.
    int connectionCount() const { return m_connections.load(std::memory_order_relaxed); }
    // May be called from any thread.
    void setMaxConnections(int n) { m_maxConnections.store(n); }
    double idleTimeout() const { return m_idleTimeout.load(); }
    double stallTimeout() const { return m_stallTimeout.load(); }
    void setIdleTimeout(double s) { m_idleTimeout.store(s); }
    void setStallTimeout(double s) { m_stallTimeout.store(s); }
    uint64_t patchesShown() const { return m_shown.load(); }

    // XmlRpcSource: the listening socket.
    unsigned handleEvent(unsigned eventType) override;
    bool paused() const override;
    void removeConnection(OvcPGenConnection *c);

private:
    class Discovery;
    void run();
    std::string rectangle(const std::string &command, int32_t bits);
    std::string triplet(const std::string &command);

    OvcPatchSink m_sink;
    XmlRpcDispatch m_disp;
    std::unique_ptr<Discovery> m_discovery;
    int m_port, m_discoveryPortWanted;
    int m_boundPort = -1, m_boundDiscovery = -1;
    // Changed by the dispatching thread, read from any (tests, status).
    std::atomic<int> m_connections{0};
    std::atomic<int> m_maxConnections;
    // Accept failing for want of descriptors or memory: the listener rests.
    std::chrono::steady_clock::time_point m_acceptResume{};
    std::atomic<double> m_idleTimeout, m_stallTimeout;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_shown{0};
    // The last rectangle: the geometry and depth triplet patches take.
    bool m_haveRect = false;
    OvcPatch m_lastRect;
    std::string m_host;
};
