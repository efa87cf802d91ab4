#pragma once
#include "XmlRpcServer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

class OvCore;
class OvcXmlPrivates;

// Base of the generator's methods: reaches the engine through the holder.
class OvcXmlMethod : public XmlRpcServerMethod {
public:
    OvcXmlMethod(const char *name, OvcXmlPrivates *holder);

protected:
    OvcXmlPrivates *m_holder;
};

// Holds the XML-RPC server, the eight generator methods and the server
// thread. One per process; the engine may be absent.
class OvcXmlPrivates {
public:
    static constexpr int kPort = 9022;
    static constexpr double kRoundSeconds = 0.5;
    // How long the server thread stays awake after answering a call.
    static constexpr int kSpinMicros = 100;

    // allowRemotePlugins: folders a client names may load ".ovp" plug-ins.
    // logPort: where a "Log" redirection sends the log lines.
    explicit OvcXmlPrivates(OvCore *engine, bool allowRemotePlugins = false, uint16_t logPort = 5112);
    // Shuts the thread down, then destroys the methods and the server.
    ~OvcXmlPrivates();

    // Listens on port at address (null: all local addresses) and starts the
    // server thread. False when the port cannot be bound; the thread still
    // runs (idle) so shutdown is the same either way.
    bool start(int port = kPort, const char *address = nullptr);
    // Ends the server thread within one round and closes every connection.
    void shutdown();

    // The port bound by start, or -1.
    int port() const { return m_boundPort; }
    OvCore *engine() const { return m_engine; }
    bool allowRemotePlugins() const { return m_allowRemotePlugins; }
    uint16_t logPort() const { return m_logPort; }
    XmlRpcServer &server() { return m_server; }

    OvcXmlPrivates(const OvcXmlPrivates &) = delete;
    OvcXmlPrivates &operator=(const OvcXmlPrivates &) = delete;

private:
    void run();

    OvCore *m_engine;
    XmlRpcServer m_server;
    std::vector<std::unique_ptr<OvcXmlMethod>> m_methods;
    int m_port = kPort;
    int m_boundPort = -1;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    bool m_allowRemotePlugins;
    uint16_t m_logPort;
};
