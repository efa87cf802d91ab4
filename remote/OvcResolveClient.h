#pragma once
#include "OvcPatch.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// The Resolve-style client: connects to the calibration program (which
// listens and serves one client at a time) and shows each patch message it
// sends. A message is a 4-byte big-endian length and that many bytes of
// UTF-8 XML; nothing is answered. The next message is read only once the
// previous one's frame is on the output.
class OvcResolveClient {
public:
    static constexpr int kPort = 20002;
    // Peers drop the connection for a length above this or of 0; so do we.
    static constexpr uint32_t kMaxMessage = 64 * 1024;
    // Reconnection back-off: doubled after each failure up to the cap.
    static constexpr std::chrono::milliseconds kFirstBackoff{250};
    static constexpr std::chrono::milliseconds kMaxBackoff{5000};
    static constexpr std::chrono::milliseconds kConnectLimit{5000};
    // Elements nested deeper are refused (the two dialects need four).
    static constexpr int kMaxDepth = 16;

    OvcResolveClient(OvCore *engine, const std::string &host, int port);
    ~OvcResolveClient();
    void start();
    // Closes the connection and joins the thread.
    void stop();

    // One message's XML as a patch; false with the reason in error when the
    // message is not one of the two dialects or not well-formed. black is
    // the background of a lone rectangle, at blackBits.
    static bool parse(const std::string &xml, OvcPatch &patch, std::string &error, uint32_t black = 0,
                      int32_t blackBits = 8);

    const std::string &host() const { return m_host; }
    int port() const { return m_port; }
    bool connected() const { return m_connected.load(); }
    // Messages shown, and messages skipped as malformed.
    uint64_t shown() const { return m_shown.load(); }
    uint64_t skipped() const { return m_skipped.load(); }
    // Connections made so far.
    uint64_t connections() const { return m_connections.load(); }

    OvcResolveClient(const OvcResolveClient &) = delete;
    OvcResolveClient &operator=(const OvcResolveClient &) = delete;

private:
    void run();
    // Serves one connection until it ends; the reason in why.
    void serve(int fd, std::string &why);
    void handle(const std::string &xml);

    OvcPatchSink m_sink;
    std::string m_host;
    int m_port;
    OvcWake m_wake;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_connected{false};
    std::atomic<uint64_t> m_shown{0}, m_skipped{0}, m_connections{0}, m_messages{0};
};
